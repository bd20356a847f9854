#include "raster/Modules/modMisc.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

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

}  // namespace kv
