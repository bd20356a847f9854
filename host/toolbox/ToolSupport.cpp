#include "host/toolbox/ToolSupport.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "host/Failure.h"
#include "host/data/Field.h"
#include "host/data/Workspace.h"

namespace korvane::host::tools {

namespace stdfs = std::filesystem;

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

namespace {
std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}
}  // namespace

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        std::string item = trim(text.substr(start, end - start));
        if (item.size() >= 2 && item.front() == '\'' && item.back() == '\'') item = trim(item.substr(1, item.size() - 2));
        if (!item.empty()) out.push_back(item);
        start = end + 1;
    }
    return out;
}

Cursor Input::features() const {
    if (layer && layer->selectionSet().count() > 0) return layer->selectionSet().search(nullptr, true);
    return fc->search(nullptr, true);
}

std::optional<Input> resolveInput(const std::string& label, const std::string& text, const ToolContext& ctx,
                                  std::string& message) {
    Input in;
    if (ctx.map)
        for (const LayerPtr& l : ctx.map->layers())
            if (l->name() == text) {
                if (auto fl = std::dynamic_pointer_cast<FeatureLayer>(l)) {
                    in.layer = fl;
                    in.fc = fl->featureClass();
                }
                break;
            }
    if (!in.fc) {
        std::error_code ec;
        std::string path = text;
        std::string ext = upper(stdfs::path(path).extension().string());
        if (ext.empty()) path += ".shp";
        if (!text.empty() && (ext.empty() || ext == ".SHP") && stdfs::is_regular_file(path, ec)) {
            try {
                in.fc = FeatureClass::open(stdfs::absolute(path).string());
            } catch (const Failure& f) {
                message = label + ": " + text + " cannot be read (" + f.description() + ").";
                return std::nullopt;
            }
        }
    }
    if (!in.fc) {
        message = label + ": " + text + " is no feature layer of the map and no shapefile.";
        return std::nullopt;
    }
    if (in.fc->shapeType() != ShapeType::Polygon) {
        message = label + ": " + text + " does not hold polygons.";
        return std::nullopt;
    }
    in.name = in.fc->name();
    return in;
}

std::string checkOutput(const std::string& text, const std::vector<Input>& inputs, std::string& path) {
    const std::string label = "Output Feature Class";
    if (text.empty()) return label + ": a value is required.";
    stdfs::path p(text);
    std::string ext = upper(p.extension().string());
    if (ext.empty()) p += ".shp";
    else if (ext != ".SHP") return label + ": " + text + " is not a shapefile name (.shp).";
    p = stdfs::absolute(p);
    std::error_code ec;
    stdfs::path folder = p.parent_path();
    if (p.stem().empty() || !stdfs::is_directory(folder, ec))
        return label + ": the folder " + folder.string() + " does not exist.";
    stdfs::path canon = stdfs::weakly_canonical(p, ec);
    for (const Input& in : inputs) {
        std::error_code ec2;
        if (stdfs::weakly_canonical(in.fc->path(), ec2) == canon)
            return label + ": " + p.string() + " is the input " + in.name + "; choose a new shapefile.";
    }
    for (const char* e : {".shp", ".shx", ".dbf"}) {
        stdfs::path sibling = p;
        sibling.replace_extension(e);
        if (stdfs::exists(sibling, ec)) return label + ": " + p.string() + " already exists; choose a new shapefile.";
    }
    path = p.string();
    return {};
}

bool sameCoordinateSystem(const FeatureClass& a, const FeatureClass& b) {
    const auto& sa = a.spatialReference();
    const auto& sb = b.spatialReference();
    if (!sa || !sb) return !sa && !sb;
    if (sa->wkt == sb->wkt) return true;
    OGRSpatialReference ra, rb;
    if (ra.importFromWkt(sa->wkt.c_str()) != OGRERR_NONE || rb.importFromWkt(sb->wkt.c_str()) != OGRERR_NONE)
        return false;
    return ra.IsSame(&rb) != 0;
}

std::string FieldNamer::add(const std::string& wanted) {
    auto taken = [&](const std::string& n) {
        return std::any_of(used_.begin(), used_.end(), [&](const std::string& u) { return sameFieldName(u, n); });
    };
    std::string name = wanted.substr(0, 10);
    for (int n = 1; taken(name); ++n) {
        std::string suffix = "_" + std::to_string(n);
        name = wanted.substr(0, 10 - suffix.size()) + suffix;
    }
    used_.push_back(name);
    return name;
}

// ---- GEOS -------------------------------------------------------------------

namespace {
GEOSContextHandle_t ctx() { return GeosAccess::context(); }

void collectParts(const GEOSGeometry* g, int dim, std::vector<GEOSGeometry*>& out) {
    int type = GEOSGeomTypeId_r(ctx(), g);
    if (type == GEOS_MULTIPOINT || type == GEOS_MULTILINESTRING || type == GEOS_MULTIPOLYGON ||
        type == GEOS_GEOMETRYCOLLECTION) {
        int n = GEOSGetNumGeometries_r(ctx(), g);
        for (int i = 0; i < n; ++i) collectParts(GEOSGetGeometryN_r(ctx(), g, i), dim, out);
        return;
    }
    if (GEOSisEmpty_r(ctx(), g) == 1) return;
    int d = (type == GEOS_POINT) ? 0 : (type == GEOS_POLYGON) ? 2 : 1;
    if (d == dim) out.push_back(GEOSGeom_clone_r(ctx(), g));
}
}  // namespace

GeosPtr partsOfDimension(GeosPtr g, int dim) {
    if (!g || GEOSisEmpty_r(ctx(), g.get()) == 1) return nullptr;
    int type = GEOSGeomTypeId_r(ctx(), g.get());
    bool single = type == GEOS_POINT || type == GEOS_LINESTRING || type == GEOS_LINEARRING || type == GEOS_POLYGON;
    int d = (type == GEOS_POINT || type == GEOS_MULTIPOINT) ? 0
            : (type == GEOS_POLYGON || type == GEOS_MULTIPOLYGON) ? 2
            : (type == GEOS_GEOMETRYCOLLECTION) ? -1 : 1;
    if (d == dim && (single || type != GEOS_GEOMETRYCOLLECTION)) return g;
    std::vector<GEOSGeometry*> parts;
    collectParts(g.get(), dim, parts);
    if (parts.empty()) return nullptr;
    if (parts.size() == 1) return GeosPtr(parts[0]);
    int multi = dim == 0 ? GEOS_MULTIPOINT : dim == 1 ? GEOS_MULTILINESTRING : GEOS_MULTIPOLYGON;
    GEOSGeometry* m = GEOSGeom_createCollection_r(ctx(), multi, parts.data(), static_cast<unsigned>(parts.size()));
    if (!m) GeosAccess::fail("Cannot collect the parts");
    return GeosPtr(m);
}

std::vector<GeosPtr> polygonsOf(const GEOSGeometry* g) {
    std::vector<GEOSGeometry*> parts;
    if (g) collectParts(g, 2, parts);
    std::vector<GeosPtr> out;
    out.reserve(parts.size());
    for (GEOSGeometry* p : parts) out.emplace_back(p);
    return out;
}

GeosPtr readPolygons(const Geometry& shape) {
    if (shape.wkb().empty()) return nullptr;
    GeosPtr g(GeosAccess::readWkb(shape.wkb()));
    char valid = GEOSisValid_r(ctx(), g.get());
    if (valid == 2) GeosAccess::fail("Cannot test the shape");
    if (valid == 0) {
        GeosAccess::clearMessage();
        GEOSGeometry* r = GEOSMakeValid_r(ctx(), g.get());
        if (!r) GeosAccess::fail("Cannot repair the shape");
        g.reset(r);
    }
    return partsOfDimension(std::move(g), 2);
}

// ---- output -----------------------------------------------------------------

OutputWriter::OutputWriter(const std::string& shpPath, const std::vector<FieldDef>& fields, ShapeType type,
                           const std::optional<SpatialReference>& sr) {
    stdfs::path p(shpPath);
    folder_ = p.parent_path().string();
    name_ = p.stem().string();
    auto ws = ShapefileWorkspace::open(folder_);
    next_ = std::make_unique<DatasetReplacement>(ws, name_, true);
    fc_ = ws.createFeatureClass(next_->temporaryName(), fields, type, sr ? &*sr : nullptr);
    try {
        cursor_ = fc_->insert(true);
        buffer_ = cursor_.createRowBuffer();
        for (const FieldDef& f : fields) indexes_.push_back(fc_->findField(f.name));
    } catch (...) {
        discard();
        throw;
    }
}

OutputWriter::~OutputWriter() { discard(); }

void OutputWriter::discard() {
    if (done_) return;
    done_ = true;
    cursor_ = InsertCursor();
    buffer_.reset();
    fc_.reset();
    next_.reset();   // the temporary files go with it
}

void OutputWriter::add(const std::vector<Value>& values, GeosPtr shape) {
    for (size_t i = 0; i < values.size() && i < indexes_.size(); ++i) buffer_->setValue(indexes_[i], values[i]);
    buffer_->setShape(shape ? GeosAccess::adopt(shape.release()) : Geometry());
    cursor_.insertRow(*buffer_);
    ++count_;
}

void OutputWriter::finish() {
    cursor_.flush();
    fc_->flush();
    cursor_ = InsertCursor();
    buffer_.reset();
    fc_->close();
    fc_.reset();
    next_->commit();
    next_.reset();
    done_ = true;
}

}  // namespace korvane::host::tools
