#include "shared/modCoreAreas.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

constexpr const char* kPatchArea = "Patch_Area";
constexpr const char* kCoreArea = "Core_Area";
constexpr const char* kArea = "Area";

// A buffer that cannot be built is tried again a little wider, this many
// times; then the failure stands and ends the run.
constexpr int kBufferAttempts = 10;
constexpr double kBufferWidening = 0.00005;

// The source features between two flushes of the insert cursor.
constexpr int16_t kFlushEvery = 100;

uint32_t readU32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) h::fail(h::err::HostInvalidArg, "Korvane", "The shape's bytes end early.");
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;   // the host's shapes are little-endian WKB, as this machine
}

std::string sameDataset(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    auto ca = sfs::weakly_canonical(a, ec1), cb = sfs::weakly_canonical(b, ec2);
    return (!ec1 && !ec2 && ca == cb) ? ca.string() : std::string{};
}

// The map's feature layer (at any depth) whose data is the shapefile at
// path, or nothing.
h::LayerPtr layerOnFile(const h::MapPtr& map, const std::string& shpPath) {
    if (!map) return nullptr;
    for (const h::LayerPtr& l : map->allLayers()) {
        if (l->kind() != h::LayerKind::Feature) continue;
        auto* fl = dynamic_cast<h::FeatureLayer*>(l.get());
        if (fl && fl->featureClass() && !sameDataset(fl->featureClass()->path(), shpPath).empty()) return l;
    }
    return nullptr;
}

}  // namespace

std::vector<h::Geometry> PolygonParts(const h::Geometry& shape) {
    std::vector<h::Geometry> parts;
    const std::vector<uint8_t>& b = shape.wkb();
    if (b.size() < 9) return parts;
    uint32_t type = readU32(b, 1) % 1000;
    if (type == 3) {
        parts.push_back(shape);
        return parts;
    }
    if (type != 6) return parts;
    uint32_t count = readU32(b, 5);
    size_t at = 9;
    for (uint32_t i = 0; i < count; ++i) {
        size_t start = at;
        uint32_t rings = readU32(b, at + 5);
        at += 9;
        for (uint32_t r = 0; r < rings; ++r) at += 4 + 16 * static_cast<size_t>(readU32(b, at));
        if (at > b.size()) h::fail(h::err::HostInvalidArg, "Korvane", "The shape's bytes end early.");
        parts.push_back(h::Geometry::fromWkb(b.data() + start, at - start));
    }
    return parts;
}

h::Geometry CoreOf(const h::Geometry& shape, double distance) {
    distance = -std::fabs(distance);
    h::Geometry core;
    for (int attempt = 1;; ++attempt) {
        try {
            core = shape.buffer(distance);
            break;
        } catch (const h::Failure&) {
            if (attempt >= kBufferAttempts) throw;
            distance -= kBufferWidening;
        }
    }
    if (!core.isEmpty() && !core.isValid()) core = core.makeValid();
    return core;
}

ShapefileTarget SplitShapefilePath(const std::string& full) {
    ShapefileTarget t;
    size_t slash = full.find_last_of('/');
    std::string title = slash == std::string::npos ? full : full.substr(slash + 1);
    // A file in the root folder keeps "/" as its folder.
    if (slash != std::string::npos) t.folderName = full.substr(0, std::max<size_t>(slash, 1));
    const std::string_view name(title);
    const bool shp = name.size() > 4 && h::sameFieldName(name.substr(name.size() - 4), ".shp");
    t.shapefileName = std::string(shp ? name.substr(0, name.size() - 4) : name);
    return t;
}

std::optional<CoreSource> CheckCoreRequest(Procedure& kvProc_, const h::MapPtr& map, const std::string& folderName,
                                           const std::string& shapefileName, const std::string& strLayerName,
                                           const std::string& strIDFieldName) {
    KV_LINE;
    h::LayerPtr layer = FindLayerByName(map, strLayerName);
    if (!layer) {
        MsgBox(strLayerName + " is not loaded into the current map.", h::mb::Exclamation, "Cannot Buffer Layer");
        return std::nullopt;
    }
    KV_LINE;
    CoreSource r;
    r.layer = &featureLayerOf(layer);
    r.featureClass = r.layer->featureClass();
    KV_LINE;
    r.idIndex = r.featureClass->findField(strIDFieldName);
    if (r.idIndex < 0) {
        MsgBox("Cannot find ID field " + strIDFieldName + " in layer " + strLayerName, h::mb::Exclamation,
               "Cannot Buffer Layer");
        return std::nullopt;
    }
    KV_LINE;
    r.idField = r.featureClass->fields().field(r.idIndex);
    const h::FieldDef& idField = r.idField;
    // The object id and the shape are the new class's own, not values
    // that it can copy.
    if (idField.type == h::FieldOID || idField.type == h::FieldGeometry) {
        MsgBox("The ID field " + idField.name + " is the layer's object ID or shape field.  Choose another ID "
               "field.",
               h::mb::Exclamation, "Cannot Buffer Layer");
        return std::nullopt;
    }
    // The three area fields come after the ID field: an ID field of one
    // of their names would make the new class impossible.
    for (const char* name : {kPatchArea, kCoreArea, kArea}) {
        if (h::sameFieldName(idField.name, name)) {
            MsgBox("The ID field " + idField.name + " has the name of a field of the core areas (Patch_Area, "
                   "Core_Area, Area).  Choose another ID field.",
                   h::mb::Exclamation, "Cannot Buffer Layer");
            return std::nullopt;
        }
    }
    // Replacing the data of a layer of the map would destroy what the
    // map shows, the source patches above all.
    KV_LINE;
    std::string outPath = folderName + "/" + shapefileName + ".shp";
    if (h::LayerPtr onFile = layerOnFile(map, outPath)) {
        MsgBox(outPath + " is the data of the layer " + onFile->name() +
                   " in the current map and cannot be replaced.  Choose another output file.",
               h::mb::Exclamation, "Cannot Buffer Layer");
        return std::nullopt;
    }
    return r;
}

std::optional<PendingCores> MakeCoreShapefile(const std::string& folderName, const std::string& shapefileName,
                                              const h::FieldDef& idField, const h::SpatialReference* sr) {
    std::vector<h::FieldDef> fields = {idField,
                                       {kPatchArea, h::FieldDouble, 0, 20, 5},
                                       {kCoreArea, h::FieldDouble, 0, 20, 5},
                                       {kArea, h::FieldDouble, 0, 20, 5}};
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folderName);
    // An old output that cannot be replaced is not written beside either.
    if (ws.exists(shapefileName + ".shp")) {
        if (::access(folderName.c_str(), W_OK) != 0) return std::nullopt;
        for (const char* ext : {".shp", ".shx", ".dbf"}) {
            std::string file = folderName + "/" + shapefileName + ext;
            if (h::fs::FileExists(file) && h::fs::IsReadOnly(file)) return std::nullopt;
        }
    }
    PendingCores p;
    p.replacement = std::make_unique<h::DatasetReplacement>(ws, shapefileName, true);
    try {
        p.featureClass = ws.createFeatureClass(p.replacement->temporaryName(), fields, h::ShapeType::Polygon, sr);
    } catch (const h::Failure&) {
        return std::nullopt;
    }
    return p;
}

// ---- the run ------------------------------------------------------------------------

CoreAreaRun::CoreAreaRun(Procedure& kvProc_, const CoreSource& source, const h::FeatureClassPtr& cores,
                         double strBufferSize, bool blnExplode, bool writeEmpty)
    : sourceId_(source.idIndex), distance_(-std::fabs(strBufferSize)), explode_(blnExplode), writeEmpty_(writeEmpty) {
    KV_LINE;
    h::SelectionSet& selection = source.layer->selectionSet();
    bool selected = selection.count() > 0;
    KV_LINE;
    cursor_ = selected ? selection.search(nullptr, true) : source.layer->search(nullptr, true);
    total_ = selected ? selection.count() : source.featureClass->rowCount();
    KV_LINE;
    coreAreaIndex_ = cores->findField(kCoreArea);
    patchAreaIndex_ = cores->findField(kPatchArea);
    areaIndex_ = cores->findField(kArea);
    idIndex_ = cores->findField(source.idField.name);
    KV_LINE;
    feature_ = cursor_.next();
    KV_LINE;
    inserts_ = cores->insert(true);
    KV_LINE;
    buffer_ = inserts_.createRowBuffer();
}

void CoreAreaRun::write(Procedure& kvProc_, h::Geometry part, double patchArea, double coreArea, double partArea,
                        const h::Value& id) {
    KV_LINE;
    buffer_->setShape(std::move(part));
    buffer_->setValue(patchAreaIndex_, patchArea);
    buffer_->setValue(coreAreaIndex_, coreArea);
    buffer_->setValue(areaIndex_, partArea);
    buffer_->setValue(idIndex_, id);
    ++featuresRunThrough_;
    KV_LINE;
    inserts_.insertRow(*buffer_);
}

void CoreAreaRun::step(Procedure& kvProc_) {
    // The source shape as it is measured: a self-intersecting ring is first
    // made valid, so that its area and core are those of the ground it covers.
    KV_LINE;
    h::Geometry shape = MeasuredShape(feature_->shape());
    KV_LINE;
    h::Geometry core = CoreOf(shape, distance_);
    KV_LINE;
    double patchArea = shape.area();
    double coreArea = core.area();
    KV_LINE;
    const h::Value id = feature_->value(sourceId_);
    if (coreArea > 0) {
        KV_LINE;
        std::vector<h::Geometry> parts = explode_ ? PolygonParts(core) : std::vector<h::Geometry>{};
        if (parts.size() > 1) {
            // Each part keeps its own holes, so that the parts' areas add up
            // to the core area.
            for (h::Geometry& part : parts) {
                double partArea = part.area();
                if (partArea > 0) write(kvProc_, std::move(part), patchArea, coreArea, partArea, id);
            }
        } else {
            write(kvProc_, std::move(core), patchArea, coreArea, coreArea, id);
        }
    } else if (writeEmpty_) {
        KV_LINE;
        write(kvProc_, h::Geometry(), patchArea, 0, 0, id);
    }
    KV_LINE;
    if (flushCounter_ > kFlushEvery) {
        inserts_.flush();
        flushCounter_ = 0;
    } else {
        ++flushCounter_;
    }
    ++featuresRunThrough_;
    KV_LINE;
    feature_ = cursor_.next();
}

void CoreAreaRun::finish(Procedure& kvProc_) {
    KV_LINE;
    inserts_.flush();
    feature_.reset();
    inserts_ = h::InsertCursor();
    buffer_.reset();
    cursor_ = h::Cursor();
}

}  // namespace kv
