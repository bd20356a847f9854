#include "host/data/MapView.h"

#include <gdal_alg.h>
#include <gdal_priv.h>
#include <ogr_geometry.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "host/Document.h"
#include "host/FileReplace.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/GdalSupport.h"
#include "host/data/RasterImpl.h"

namespace korvane::host {

namespace {

constexpr const char* kSource = "MapView";
// Geometries handed to the rasterizer at once.
constexpr size_t kBatch = 4096;

bool meets(const Envelope& a, const Envelope& b) {
    return !a.empty && !b.empty && a.xmin < b.xmax && b.xmin < a.xmax && a.ymin < b.ymax && b.ymin < a.ymax;
}

Envelope unite(Envelope a, const Envelope& b) {
    if (b.empty) return a;
    if (a.empty) return b;
    a.xmin = std::min(a.xmin, b.xmin);
    a.ymin = std::min(a.ymin, b.ymin);
    a.xmax = std::max(a.xmax, b.xmax);
    a.ymax = std::max(a.ymax, b.ymax);
    return a;
}

// The visible layers that have data, bottom first (a group's members at the
// group's place, its bottom member first).
void drawingOrder(const std::vector<LayerPtr>& layers, std::vector<LayerPtr>& out) {
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        const LayerPtr& l = *it;
        if (!l || !l->visible()) continue;
        if (auto* g = dynamic_cast<const GroupLayer*>(l.get())) drawingOrder(g->layers(), out);
        else if (layerExtent(*l)) out.push_back(l);
    }
}

// Where the picture's pixels lie: pixel (i, j) has its centre at
// (xmin + (i + 0.5) * pixel, ymax - (j + 0.5) * pixel).
struct View {
    int64_t width = 0, height = 0;
    double xmin = 0, ymax = 0, pixel = 0;
    double x(int64_t i) const { return xmin + (static_cast<double>(i) + 0.5) * pixel; }
    double y(int64_t j) const { return ymax - (static_cast<double>(j) + 0.5) * pixel; }
};

void put(Picture& pic, int64_t i, int64_t j, const Rgb& c) {
    uint8_t* p = pic.rgba.data() + 4 * (j * pic.width + i);
    p[0] = c.red;
    p[1] = c.green;
    p[2] = c.blue;
    p[3] = 255;
}

std::string sizeText(int64_t w, int64_t h) { return fmt::format("{}x{}", w, h); }

// ------------------------------------------------------------ rasters

// Colours of cell values: a dense table over the values' range where it is
// small, a hash map otherwise.
class CellColours {
public:
    void add(int64_t value, Rgb c) { pending_.emplace(value, c); }
    void seal() {
        if (pending_.empty()) return;
        auto [lo, hi] = std::minmax_element(pending_.begin(), pending_.end(),
                                            [](const auto& a, const auto& b) { return a.first < b.first; });
        if (hi->first - lo->first < (int64_t{1} << 24)) {
            base_ = lo->first;
            dense_.assign(static_cast<size_t>(hi->first - lo->first + 1), 0);
            for (const auto& [v, c] : pending_) dense_[static_cast<size_t>(v - base_)] = pack(c);
            pending_.clear();
        }
    }
    // 0: no colour; otherwise 0xff rr gg bb.
    uint32_t of(double v) const {
        if (!(std::fabs(v) < 9.0e15) || v != std::floor(v)) return 0;
        auto key = static_cast<int64_t>(v);
        if (!dense_.empty()) {
            if (key < base_ || key - base_ >= static_cast<int64_t>(dense_.size())) return 0;
            return dense_[static_cast<size_t>(key - base_)];
        }
        auto it = pending_.find(key);
        return it == pending_.end() ? 0 : pack(it->second);
    }

private:
    static uint32_t pack(const Rgb& c) {
        return 0xff000000u | (uint32_t{c.red} << 16) | (uint32_t{c.green} << 8) | uint32_t{c.blue};
    }
    std::unordered_map<int64_t, Rgb> pending_;  // first value wins
    std::vector<uint32_t> dense_;
    int64_t base_ = 0;
};

// The renderer's colour of each cell value: through the value table's rows
// (their Value and the renderer's field), or, when the renderer's field is
// the cell value itself and the table lacks it, the class values as cells.
CellColours rendererCellColours(RasterDataset& raster, const UniqueValueRenderer& renderer) {
    const RendererColours colours(renderer);
    CellColours out;
    TablePtr table = raster.attributeTable();
    int32_t valueField = table ? table->findField("Value") : -1;
    int32_t classField = table ? table->findField(renderer.field) : -1;
    if (valueField >= 0 && classField >= 0) {
        Cursor c = table->search(nullptr, true);
        while (RowPtr row = c.next()) {
            const Value& v = row->value(valueField);
            if (!isNumber(v)) continue;
            if (std::optional<Rgb> rgb = colours.of(row->value(classField)))
                out.add(std::llround(toDouble(v)), *rgb);
        }
    } else if (sameFieldName(renderer.field, "Value")) {
        for (const UniqueValueRenderer::Class& k : renderer.classes)
            if (isNumber(k.value)) out.add(std::llround(toDouble(k.value)), colours.of(k.value).value_or(k.colour));
    }
    out.seal();
    return out;
}

// The lowest and highest Value of the raster's table, if it has one.
std::optional<std::pair<double, double>> tableRange(RasterDataset& raster) {
    TablePtr table = raster.attributeTable();
    int32_t valueField = table ? table->findField("Value") : -1;
    if (valueField < 0) return std::nullopt;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    Cursor c = table->search(nullptr, true);
    while (RowPtr row = c.next()) {
        const Value& v = row->value(valueField);
        if (!isNumber(v)) continue;
        lo = std::min(lo, toDouble(v));
        hi = std::max(hi, toDouble(v));
    }
    if (lo > hi) return std::nullopt;
    return std::make_pair(lo, hi);
}

struct GdalCloser {
    void operator()(GDALDataset* d) const { GDALClose(d); }
};
using GdalHandle = std::unique_ptr<GDALDataset, GdalCloser>;

void drawRaster(RasterLayer& layer, const View& view, Picture& pic) {
    RasterDataset& raster = *layer.raster();
    const Envelope e = raster.extent();
    const int64_t columns = raster.width(), rows = raster.height();
    const double cx = raster.cellSizeX(), cy = raster.cellSizeY();
    if (columns <= 0 || rows <= 0 || !(cx > 0) || !(cy > 0)) return;

    // The cell column under each pixel column, and the cell row under each
    // pixel row (-1: off the raster). Both only grow.
    std::vector<int64_t> cellColumn(static_cast<size_t>(view.width), -1), cellRow(static_cast<size_t>(view.height), -1);
    for (int64_t i = 0; i < view.width; ++i) {
        double c = std::floor((view.x(i) - e.xmin) / cx);
        if (c >= 0 && c < static_cast<double>(columns)) cellColumn[static_cast<size_t>(i)] = static_cast<int64_t>(c);
    }
    for (int64_t j = 0; j < view.height; ++j) {
        double r = std::floor((e.ymax - view.y(j)) / cy);
        if (r >= 0 && r < static_cast<double>(rows)) cellRow[static_cast<size_t>(j)] = static_cast<int64_t>(r);
    }
    auto firstIn = [](const std::vector<int64_t>& v) {
        return std::find_if(v.begin(), v.end(), [](int64_t x) { return x >= 0; }) - v.begin();
    };
    auto endIn = [](const std::vector<int64_t>& v) {
        return v.rend() - std::find_if(v.rbegin(), v.rend(), [](int64_t x) { return x >= 0; });
    };
    const int64_t i0 = firstIn(cellColumn), i1 = endIn(cellColumn);
    const int64_t j0 = firstIn(cellRow), j1 = endIn(cellRow);
    if (i0 >= i1 || j0 >= j1) return;
    const int64_t c0 = cellColumn[static_cast<size_t>(i0)], c1 = cellColumn[static_cast<size_t>(i1 - 1)];
    const int64_t windowColumns = c1 - c0 + 1;

    // A handle of our own. Its blocks are decoded on this thread: a row
    // read across a block row's many blocks would hand every one of them
    // to GDAL's decoding threads again for each row.
    // The auxiliary file is not read: its attribute table (a row a patch)
    // is not needed for the cells and would cost memory with every patch.
    gdal::ErrorTrap trap;
    GdalHandle ds = [&] {
        gdal::NoAuxiliaryFile noAux;
        return GdalHandle(static_cast<GDALDataset*>(GDALOpenEx(RasterAccess::impl(raster).dataPath.c_str(),
                                                               GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr,
                                                               nullptr, nullptr)));
    }();
    if (!ds || ds->GetRasterCount() < 1)
        fail(err::HostGeneric, kSource, gdal::describe("Cannot read the cells of " + raster.path(), trap));
    GDALRasterBand* band = ds->GetRasterBand(1);
    int blockX = 0, blockY = 0;
    band->GetBlockSize(&blockX, &blockY);
    blockY = std::max(blockY, 1);
    const std::optional<double> noData = raster.noData();

    // The colours come from the value table, a row a value: read on a
    // second thread while this one reads the cells (the table is opened
    // here; the cells go through the private handle alone).
    const std::optional<UniqueValueRenderer>& renderer = layer.renderer();
    raster.attributeTable();
    std::future<CellColours> colours;
    std::future<std::optional<std::pair<double, double>>> tableSpan;
    if (renderer) colours = std::async(std::launch::async, [&] { return rendererCellColours(raster, *renderer); });
    else tableSpan = std::async(std::launch::async, [&] { return tableRange(raster); });

    // The cells under the pixels (NaN: NoData), then their colours. Only
    // the cell rows under a pixel row are read, one at a time: the blocks
    // of a block row stay in GDAL's cache while its rows are read and are
    // dropped when the next block row begins, so memory is a block row's
    // whatever the raster's size.
    const int64_t w = i1 - i0;
    std::vector<double> sampled(static_cast<size_t>(w * (j1 - j0)), std::nan(""));
    std::vector<double> cells(static_cast<size_t>(windowColumns));
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    int64_t readRow = -1;
    for (int64_t j = j0; j < j1; ++j) {
        const int64_t row = cellRow[static_cast<size_t>(j)];
        if (row < 0) continue;
        if (row != readRow) {
            if (readRow >= 0 && row / blockY != readRow / blockY) band->FlushCache(false);
            if (band->RasterIO(GF_Read, static_cast<int>(c0), static_cast<int>(row), static_cast<int>(windowColumns), 1,
                               cells.data(), static_cast<int>(windowColumns), 1, GDT_Float64, 0, 0,
                               nullptr) != CE_None)
                fail(err::HostGeneric, kSource, gdal::describe("Cannot read the cells of " + raster.path(), trap));
            readRow = row;
        }
        double* out = sampled.data() + (j - j0) * w;
        for (int64_t i = i0; i < i1; ++i) {
            const int64_t c = cellColumn[static_cast<size_t>(i)];
            if (c < 0) continue;
            const double v = cells[static_cast<size_t>(c - c0)];
            if (std::isnan(v) || (noData && v == *noData)) continue;
            out[i - i0] = v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    ds.reset();
    CellColours cellColours;
    std::optional<std::pair<double, double>> range;
    if (renderer) cellColours = colours.get();
    else range = tableSpan.get();
    if (!renderer && !range && lo <= hi) range = std::make_pair(lo, hi);

    for (int64_t j = j0; j < j1; ++j) {
        const double* row = sampled.data() + (j - j0) * w;
        for (int64_t i = i0; i < i1; ++i) {
            const double v = row[i - i0];
            if (std::isnan(v)) continue;
            if (renderer) {
                uint32_t c = cellColours.of(v);
                if (c) put(pic, i, j, Rgb{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
            } else if (range) {
                double t = range->second > range->first ? (v - range->first) / (range->second - range->first) : 0.5;
                auto g = static_cast<uint8_t>(std::lround(std::clamp(t, 0.0, 1.0) * 255));
                put(pic, i, j, Rgb{g, g, g});
            }
        }
    }
}

// ------------------------------------------------------------ features

// The lines that outline a geometry: a polygon's rings; others as they are.
void outlineOf(const OGRGeometry& g, std::vector<std::unique_ptr<OGRGeometry>>& out) {
    switch (wkbFlatten(g.getGeometryType())) {
        case wkbPolygon:
            for (const OGRLinearRing* ring : *g.toPolygon()) out.push_back(std::make_unique<OGRLineString>(*ring));
            break;
        case wkbMultiPolygon:
        case wkbGeometryCollection:
        case wkbMultiLineString:
        case wkbMultiPoint:
            for (const OGRGeometry* part : *g.toGeometryCollection()) outlineOf(*part, out);
            break;
        default:
            out.emplace_back(g.clone());
    }
}

void drawFeatures(FeatureLayer& layer, const View& view, Picture& pic) {
    FeatureClass& fc = *layer.featureClass();
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    gdal::ErrorTrap trap;
    GdalHandle mask(mem ? mem->Create("", static_cast<int>(view.width), static_cast<int>(view.height), 1, GDT_Byte,
                                      nullptr)
                        : nullptr);
    if (!mask) fail(err::HostGeneric, kSource, gdal::describe("Cannot draw " + layer.name(), trap));
    double gt[6] = {view.xmin, view.pixel, 0, view.ymax, 0, -view.pixel};
    mask->SetGeoTransform(gt);
    const Envelope viewExtent{view.xmin, view.ymax - view.pixel * static_cast<double>(view.height),
                              view.xmin + view.pixel * static_cast<double>(view.width), view.ymax, false};
    const std::unordered_set<int64_t> selected(layer.selectionSet().ids().begin(), layer.selectionSet().ids().end());

    std::vector<std::unique_ptr<OGRGeometry>> plain, chosen;
    auto burn = [&](std::vector<std::unique_ptr<OGRGeometry>>& geoms, double value, bool allTouched) {
        if (geoms.empty()) return;
        std::vector<OGRGeometryH> handles;
        for (auto& g : geoms) handles.push_back(OGRGeometry::ToHandle(g.get()));
        int bands[] = {1};
        const std::vector<double> burnValues(handles.size(), value);  // one per geometry
        const char* options[] = {allTouched ? "ALL_TOUCHED=TRUE" : nullptr, nullptr};
        if (GDALRasterizeGeometries(GDALDataset::ToHandle(mask.get()), 1, bands, static_cast<int>(handles.size()),
                                    handles.data(), nullptr, nullptr, burnValues.data(), const_cast<char**>(options), nullptr,
                                    nullptr) != CE_None)
            fail(err::HostGeneric, kSource, gdal::describe("Cannot draw " + layer.name(), trap));
        geoms.clear();
    };
    Cursor cursor = fc.search(nullptr, true);
    while (RowPtr row = cursor.next()) {
        const Geometry& shape = row->shape();
        // Closed intervals: a point or a straight line has an envelope without area.
        const Envelope env = shape.isEmpty() ? Envelope{} : shape.envelope();
        if (env.empty || env.xmax < viewExtent.xmin || env.xmin > viewExtent.xmax || env.ymax < viewExtent.ymin ||
            env.ymin > viewExtent.ymax)
            continue;
        const std::vector<uint8_t>& wkb = shape.wkb();
        OGRGeometry* g = nullptr;
        if (OGRGeometryFactory::createFromWkb(wkb.data(), nullptr, &g, wkb.size()) != OGRERR_NONE || !g) continue;
        std::unique_ptr<OGRGeometry> owned(g);
        auto& into = selected.count(row->oid()) ? chosen : plain;
        outlineOf(*owned, into);
        if (plain.size() >= kBatch) burn(plain, 1, false);
    }
    burn(plain, 1, false);
    burn(chosen, 2, true);

    std::vector<uint8_t> burnt(static_cast<size_t>(view.width));
    GDALRasterBand* b = mask->GetRasterBand(1);
    for (int64_t j = 0; j < view.height; ++j) {
        if (b->RasterIO(GF_Read, 0, static_cast<int>(j), static_cast<int>(view.width), 1, burnt.data(),
                        static_cast<int>(view.width), 1, GDT_Byte, 0, 0, nullptr) != CE_None)
            fail(err::HostGeneric, kSource, gdal::describe("Cannot draw " + layer.name(), trap));
        for (int64_t i = 0; i < view.width; ++i)
            if (uint8_t v = burnt[static_cast<size_t>(i)]) put(pic, i, j, v == 2 ? kSelectionColour : kOutlineColour);
    }
}

}  // namespace

std::optional<Envelope> layerExtent(const Layer& layer) {
    try {
        if (auto* r = dynamic_cast<const RasterLayer*>(&layer)) {
            if (!r->raster()) return std::nullopt;
            Envelope e = r->raster()->extent();
            return e.empty ? std::nullopt : std::optional<Envelope>(e);
        }
        if (auto* f = dynamic_cast<const FeatureLayer*>(&layer)) {
            if (!f->featureClass()) return std::nullopt;
            Envelope e = f->featureClass()->extent();
            return e.empty ? std::nullopt : std::optional<Envelope>(e);
        }
    } catch (const Failure&) {
    }
    return std::nullopt;
}

std::optional<Envelope> visibleExtent(const Map& map) {
    std::vector<LayerPtr> layers;
    drawingOrder(map.layers(), layers);
    Envelope all;
    for (const LayerPtr& l : layers) all = unite(all, *layerExtent(*l));
    return all.empty ? std::nullopt : std::optional<Envelope>(all);
}

Picture drawMap(const Map& map, const ViewRequest& request) {
    auto refuse = [](const std::string& why) { fail(err::HostInvalidArg, kSource, why); };
    if (request.width < 0 || request.height < 0 || request.width > kMaxPictureSide || request.height > kMaxPictureSide)
        refuse(fmt::format("The picture size {} is out of range: each side is 1 to {} pixels.",
                           sizeText(request.width, request.height), kMaxPictureSide));
    std::vector<LayerPtr> layers;
    drawingOrder(map.layers(), layers);
    if (layers.empty()) refuse("The map has no visible layer to draw.");
    Envelope want = request.extent ? *request.extent : *visibleExtent(map);
    if (!(want.width() > 0) || !(want.height() > 0) || !std::isfinite(want.width()) || !std::isfinite(want.height()))
        refuse(fmt::format("The extent {},{},{},{} has no area: nothing can be drawn.", want.xmin, want.ymin, want.xmax,
                           want.ymax));
    if (std::none_of(layers.begin(), layers.end(), [&](const LayerPtr& l) { return meets(*layerExtent(*l), want); }))
        refuse(fmt::format("The extent {},{},{},{} meets no visible layer of the map.", want.xmin, want.ymin, want.xmax,
                           want.ymax));

    const double aspect = want.width() / want.height();
    int64_t w = request.width, h = request.height;
    if (w == 0 && h == 0) w = kDefaultPictureWidth;
    if (h == 0) h = std::max<int64_t>(1, std::llround(static_cast<double>(w) / aspect));
    if (w == 0) w = std::max<int64_t>(1, std::llround(static_cast<double>(h) * aspect));
    if (w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPicturePixels)
        refuse(fmt::format("The picture would be {} pixels: at most {} pixels a side and {} in all can be drawn; give "
                           "a smaller size.",
                           sizeText(w, h), kMaxPictureSide, kMaxPicturePixels));

    View view;
    view.width = w;
    view.height = h;
    view.pixel = std::max(want.width() / static_cast<double>(w), want.height() / static_cast<double>(h));
    const double cxm = (want.xmin + want.xmax) / 2, cym = (want.ymin + want.ymax) / 2;
    view.xmin = cxm - view.pixel * static_cast<double>(w) / 2;
    view.ymax = cym + view.pixel * static_cast<double>(h) / 2;

    Picture pic;
    pic.width = w;
    pic.height = h;
    pic.extent = Envelope{view.xmin, view.ymax - view.pixel * static_cast<double>(h),
                          view.xmin + view.pixel * static_cast<double>(w), view.ymax, false};
    pic.rgba.assign(static_cast<size_t>(w * h * 4), 0);
    for (const LayerPtr& l : layers) {
        if (!meets(*layerExtent(*l), pic.extent)) continue;
        if (auto* r = dynamic_cast<RasterLayer*>(l.get())) drawRaster(*r, view, pic);
        else if (auto* f = dynamic_cast<FeatureLayer*>(l.get())) drawFeatures(*f, view, pic);
    }
    return pic;
}

void writePng(const Picture& picture, const std::string& path) {
    gdal::init();
    FileReplacement replacement({path});
    const std::string temp = replacement.temporary(0).string();
    gdal::ErrorTrap trap;
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    if (!mem || !png) fail(err::HostGeneric, kSource, "Cannot write " + path + ": GDAL has no PNG driver.");
    GdalHandle image(mem->Create("", static_cast<int>(picture.width), static_cast<int>(picture.height), 4, GDT_Byte,
                                 nullptr));
    if (!image ||
        image->RasterIO(GF_Write, 0, 0, static_cast<int>(picture.width), static_cast<int>(picture.height),
                        const_cast<uint8_t*>(picture.rgba.data()), static_cast<int>(picture.width),
                        static_cast<int>(picture.height), GDT_Byte, 4, nullptr, 4, 4 * picture.width, 1,
                        nullptr) != CE_None)
        fail(err::HostGeneric, kSource, gdal::describe("Cannot write " + path, trap));
    const GDALColorInterp interp[] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
    for (int b = 0; b < 4; ++b) image->GetRasterBand(b + 1)->SetColorInterpretation(interp[b]);
    bool ok = false;
    {
        gdal::NoAuxiliaryFile noAux;  // the picture alone: no auxiliary file beside it
        GDALDataset* out = png->CreateCopy(temp.c_str(), image.get(), FALSE, nullptr, nullptr, nullptr);
        ok = out != nullptr;
        if (out) GDALClose(out);  // a failed write at close is reported to the trap
    }
    if (!ok || trap.failed()) fail(err::HostGeneric, kSource, gdal::describe("Cannot write " + path, trap));
    replacement.commit();
}

}  // namespace korvane::host
