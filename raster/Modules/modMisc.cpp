#include "raster/Modules/modMisc.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/RasterLayer.h"
#include "raster/Modules/UtilModule.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/modMisc");

namespace kv {

namespace h = korvane::host;

namespace {
std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}
}  // namespace

bool IsRasterLayerSelected(h::Application* app) {
    bool result = false;
    KV_PROCEDURE("IsRasterLayerSelected", TopLevel).run([&] {
        KV_LINE;
        if (!app) h::failObjectNotSet();
        KV_LINE;
        h::MapPtr map = app->document()->focusMap();
        KV_LINE;
        if (map->layerCount() < 1) return;
        KV_LINE;
        h::LayerPtr sel = app->document()->selectedLayer();
        if (!sel) return;
        KV_LINE;
        result = sel->kind() == h::LayerKind::Raster;
    });
    return result;
}

void PopulateFieldListBox(const h::LayerPtr& layer, h::ComboBox& combo) {
    KV_PROCEDURE("PopulateFieldListBox", TopLevel).run([&] {
        KV_LINE;
        if (!layer) {
            MsgBox("PopulateFieldListBox cannot find layer ''", h::mb::Critical, "Layer Not Found");
            return;
        }
        KV_LINE;
        std::optional<h::Fields> fields = h::layerFields(*layer);
        KV_LINE;
        if (!fields || fields->count() <= 0) {
            MsgBox(layer->name() + " has no fields in it", h::mb::OKOnly);
            return;
        }
        combo.clear();
        for (int32_t i = 0; i < fields->count(); ++i) {
            KV_LINE;
            const std::string& name = fields->field(i).name;
            std::string u = upper(name);
            if (u != "OBJECTID" && u != "FID" && u != "SHAPE") combo.addItem(name);
        }
    });
}

std::vector<h::Value> DistinctFieldValues(h::Table& table, int32_t field) {
    std::vector<h::Value> values;
    std::set<double> numbers;
    std::set<std::string> texts;
    h::Cursor rows = table.search(nullptr, true);
    while (h::RowPtr row = rows.next()) {
        const h::Value& v = row->value(field);
        if (h::isNumber(v)) {
            if (!numbers.insert(h::toDouble(v)).second) continue;
        } else if (!texts.insert(h::toText(v)).second) {
            continue;
        }
        values.push_back(v);
    }
    return values;
}

bool SetSpatialAnalysisSettings(h::RasterAnalysisEnvironment* target, const h::RasterAnalysisEnvironment* source) {
    if (!source) return true;
    try {
        if (!target) h::failObjectNotSet();
        // Copied onto a copy first: the target takes all the settings or none.
        h::RasterAnalysisEnvironment next = *target;
        next.outWorkspace = source->outWorkspace;
        if (source->outSpatialReference) next.outSpatialReference = source->outSpatialReference;
        next.defaultOutputRasterPrefix = source->defaultOutputRasterPrefix;
        next.defaultOutputVectorPrefix = source->defaultOutputVectorPrefix;
        if (h::isSet(source->mask)) next.mask = source->mask;
        int32_t kind = h::EnvValue;
        double size = 0;
        source->getCellSize(kind, size);
        if (size != 0.0) next.setCellSize(h::EnvValue, size);
        h::Envelope extent;
        if (source->getExtent(kind, extent)) next.setExtent(h::EnvValue, extent);
        next.verifyType = source->verifyType;
        *target = std::move(next);
        return true;
    } catch (const h::Failure& f) {
        MsgBox("Set Spatial Analysis Settings: " + f.description(), h::mb::OKOnly);
    } catch (const std::exception& e) {
        MsgBox(std::string("Set Spatial Analysis Settings: ") + e.what(), h::mb::OKOnly);
    }
    return false;
}

std::optional<h::RasterWorkspace> OpenOrCreateRasterWorkspace(const std::string& path) {
    try {
        if (h::RasterWorkspace::isWorkspace(path)) return h::RasterWorkspace::open(path);
        size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return std::nullopt;
        std::string parent = slash == 0 ? "/" : path.substr(0, slash);
        return h::RasterWorkspace::create(parent, path.substr(slash + 1));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool MakePermanentRaster(const h::RasterDatasetPtr& raster, const std::string& folder, const std::string& name,
                         const h::RasterTableRows* table, h::RasterDatasetPtr* saved) {
    if (folder.empty() || name.empty()) return false;
    // The name is checked before anything in the folder is touched.
    std::optional<h::RasterFormat> format = h::rasterFormatForName(name);
    if (!format) {
        MsgBox("Make Permanent Raster: Unsupported file extension", h::mb::OKOnly);
        return false;
    }
    try {
        if (!raster) h::failObjectNotSet();
        std::optional<h::RasterWorkspace> ws = OpenOrCreateRasterWorkspace(folder);
        if (!ws)
            h::fail(h::err::PathNotFound, "MakePermanentRaster",
                    "Cannot open or create the raster workspace " + folder + ".");
        h::RasterDatasetPtr result = ws->saveReplacing(*raster, name, *format, table);
        if (saved) *saved = result;
        return true;
    } catch (const h::Failure& f) {
        MsgBox("Make Permanent Raster:" + f.description(), h::mb::OKOnly);
    } catch (const std::exception& e) {
        MsgBox(std::string("Make Permanent Raster:") + e.what(), h::mb::OKOnly);
    }
    return false;
}

bool HasDataCells(h::Table& valueTable, int32_t valueField) {
    const int32_t countField = valueTable.findField("Count");
    h::Cursor rows = valueTable.search(nullptr, true);
    while (h::RowPtr r = rows.next()) {
        if (h::isNull(r->value(valueField))) continue;
        if (countField < 0 || h::isNull(r->value(countField)) || h::toDouble(r->value(countField)) > 0) return true;
    }
    return false;
}

std::string NoDataCellsMessage(const std::string& name, const std::string& what) {
    return name + " has no cells with a value (every cell is NoData): " + what + ".  Nothing was written.";
}

h::RasterDatasetPtr OpenRasterDataset(const std::string& folder, const std::string& name) {
    if (folder.empty() || name.empty()) return nullptr;
    try {
        std::optional<h::RasterWorkspace> ws = OpenOrCreateRasterWorkspace(folder);
        if (!ws)
            h::fail(h::err::PathNotFound, "OpenRasterDataset", "Cannot open or create the raster workspace " + folder + ".");
        return ws->openRasterDataset(name);
    } catch (const h::Failure& f) {
        MsgBox("Open Raster Dataset:" + f.description(), h::mb::OKOnly);
    } catch (const std::exception& e) {
        MsgBox(std::string("Open Raster Dataset:") + e.what(), h::mb::OKOnly);
    }
    return nullptr;
}

}  // namespace kv
