#include "shared/modMisc.h"

#include "host/data/RasterLayer.h"

#include <ctime>
#include <filesystem>

#include <fmt/format.h>

#include "host/Application.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/modMisc");

namespace kv {

std::string firstChars(const std::string& s, size_t n) {
    size_t i = 0, chars = 0;
    while (i < s.size() && chars < n) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
        ++chars;
    }
    return s.substr(0, i);
}

std::string FitBytes(const std::string& s, int32_t bytes) {
    if (bytes <= 0 || s.size() <= static_cast<size_t>(bytes)) return s;
    size_t end = static_cast<size_t>(bytes);
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

std::string RunDateNow() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                       local.tm_hour, local.tm_min, local.tm_sec);
}

void ShowForm(korvane::host::Form& form, bool modal) {
    KV_PROCEDURE("ShowForm", TopLevel).run([&] {
        KV_LINE;
        if (modal) {
            KV_LINE;
            form.show(true);
        } else if (korvane::host::Application::instance().modelessAllowed) {
            KV_LINE;
            form.show(false);
        } else {
            KV_LINE;
            form.show(true);
        }
    });
}

}  // namespace kv

#include "host/Failure.h"
#include "host/Ui.h"
#include "shared/App.h"

namespace kv {

void CheckAndSetMapUnits(korvane::host::Application* app) {
    namespace h = korvane::host;
    KV_PROCEDURE("CheckAndSetMapUnits", TopLevel).run([&] {
        KV_LINE;
        if (!app) h::failObjectNotSet();
        KV_LINE;
        h::MapPtr map = app->document()->focusMap();
        KV_LINE;
        if (map->mapUnits() == h::UnitUnknown) {
            KV_LINE;
            MsgBox("Map Units are unknown.\r\nSetting map units to metres.\r\nSetting distance units to kilometres.",
                   h::mb::Information, "Setting Map Units");
            KV_LINE;
            map->setMapUnits(h::UnitMeters);
            KV_LINE;
            map->setDistanceUnits(h::UnitKilometers);
        }
    });
}

}  // namespace kv

#include "host/data/FeatureLayer.h"

namespace kv {

namespace h = korvane::host;

namespace {
const char* const kNoLayer = "PopulateFieldListBox cannot find layer '";
}  // namespace

h::FeatureLayer& featureLayerOf(const h::LayerPtr& layer) {
    auto* fl = dynamic_cast<h::FeatureLayer*>(layer.get());
    if (!fl) h::fail(h::err::TypeMismatch, "Korvane", "Type mismatch");
    return *fl;
}

std::vector<std::string> GetFields(const h::LayerPtr& layer) {
    std::vector<std::string> result;
    KV_PROCEDURE("GetFields", TopLevel).run([&] {
        KV_LINE;
        if (!layer) {
            MsgBox(std::string(kNoLayer) + "'", h::mb::Critical, "Layer Not Found");
            return;
        }
        KV_LINE;
        // A raster layer gives the fields of its attribute table.
        std::optional<h::Fields> found = h::layerFields(*layer);
        if (!found && !std::dynamic_pointer_cast<h::RasterLayer>(layer)) featureLayerOf(layer);
        const h::Fields fields = found ? *found : h::Fields();
        KV_LINE;
        if (fields.count() == 0) {
            // A raster without a value table says why it has none, as korvane status does.
            auto rl = std::dynamic_pointer_cast<h::RasterLayer>(layer);
            std::string why = rl && rl->raster() ? rl->raster()->tableStatus() : std::string();
            for (const std::string cut : {std::string("no value table: "), std::string(": no value table")}) {
                const size_t at = why.find(cut);
                if (at != std::string::npos) why.erase(at, cut.size());
            }
            if (why == "no value table") why.clear();
            MsgBox(layer->name() + " has no fields in it" +
                       (rl ? ": it has no value table" + (why.empty() ? std::string() : " (" + why + ")") : std::string()),
                   h::mb::OKOnly);
            return;
        }
        KV_LINE;
        result = fields.names();
    });
    return result;
}

bool ConfirmGeographicLayer(const std::string& layerName) {
    return MsgBox("The layer '" + layerName +
                      "' is in geographic coordinates (degrees): its areas and lengths will be in square degrees and "
                      "degrees, which distort with latitude. Projecting the layer gives meaningful values.\r\nRun on "
                      "the geographic coordinates anyway?",
                  h::mb::YesNo | h::mb::Question | h::mb::DefaultButton2, "Geographic Coordinates") == h::mb::Yes;
}

bool AddField(const h::LayerPtr& layer, const std::string& name, int16_t width, int32_t type, int16_t decimals) {
    bool result = false;
    KV_PROCEDURE("AddField", TopLevel).run([&] {
        KV_LINE;
        // Application-defined error 600 (0x80040258).
        if (!layer) h::fail(static_cast<int32_t>(0x80040258), "Add Field", "Target layer not provided.");
        KV_LINE;
        auto fc = featureLayerOf(layer).featureClass();
        h::FieldDef def;
        def.name = name;
        def.precision = width;
        def.type = type;
        def.scale = decimals;
        if (type == h::FieldString) def.length = width;
        KV_LINE;
        fc->addField(def);
        result = true;
    });
    return result;
}

h::LayerPtr FindLayerByName(const h::MapPtr& map, const std::string& name) {
    h::LayerPtr result;
    KV_PROCEDURE("FindLayerByName", TopLevel).run([&] {
        KV_LINE;
        if (!map) h::failObjectNotSet();
        KV_LINE;
        for (int32_t i = 0; i < map->layerCount(); ++i)
            if (map->layer(i)->name() == name) {
                result = map->layer(i);
                return;
            }
    });
    return result;
}

h::Geometry MeasuredShape(const h::Geometry& shape) {
    if (shape.isEmpty() || shape.isValid()) return shape;
    // The repair keeps a collapsed spike as a line: a patch is its polygons.
    return shape.makeValid().polygonalPart();
}

bool MayReplace(const std::string& path, bool yesByDefault) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return true;
    int32_t buttons = h::mb::YesNo | h::mb::Exclamation | (yesByDefault ? 0 : h::mb::DefaultButton2);
    return MsgBox(path + " already exists.\r\nDo you want to replace it?", buttons, "Save As") == h::mb::Yes;
}

WaitCursor::WaitCursor() { h::Application::instance().setMousePointer(h::Application::Pointer::Wait); }
WaitCursor::~WaitCursor() { h::Application::instance().setMousePointer(h::Application::Pointer::Default); }

}  // namespace kv
