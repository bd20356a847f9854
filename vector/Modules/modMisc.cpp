#include "vector/Modules/modMisc.h"

#include "host/Application.h"
#include "host/Failure.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/modMisc");

namespace kv {

namespace h = korvane::host;

bool IsLayerSelected(h::Application* app) {
    bool result = false;
    KV_PROCEDURE("IsLayerSelected", TopLevel).run([&] {
        KV_LINE;
        if (!app) h::fail(h::err::ObjectNotSet, "Korvane", "Object variable or With block variable not set");
        KV_LINE;
        h::MapPtr map = app->document()->focusMap();
        KV_LINE;
        if (map->layerCount() < 1) return;
        KV_LINE;
        h::LayerPtr sel = app->document()->selectedLayer();
        KV_LINE;
        if (!sel) return;
        KV_LINE;
        result = sel->kind() == h::LayerKind::Feature;
    });
    return result;
}

}  // namespace kv
