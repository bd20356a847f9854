#include "vector/Classes/clsDissolve.h"

#include "shared/ErrorHandling.h"
#include "vector/Classes/HostTool.h"
#include "vector/Modules/modMisc.h"

KV_MODULE("Classes/clsDissolve");

namespace kv {

namespace h = korvane::host;

clsDissolve::clsDissolve()
    : VectorCommand(kvModulePath_, "dissolvePoly", "Dissolve Polygons", EnabledRule::OneLayer) {}

clsDissolve::~clsDissolve() { stopWatching(); }

void clsDissolve::watch(const h::MapPtr& map) {
    stopWatching();
    if (!map) return;
    myMap_ = map;
    addedToken_ = map->itemAdded.connect([this](const h::LayerPtr& item) { myMap_ItemAdded(item); });
    changedToken_ = map->contentsChanged.connect([this] { myMap_ContentsChanged(); });
}

void clsDissolve::stopWatching() {
    if (!myMap_) return;
    myMap_->itemAdded.disconnect(addedToken_);
    myMap_->contentsChanged.disconnect(changedToken_);
    myMap_.reset();
}

void clsDissolve::clickWithoutDialog() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        // The watch lasts as long as the tool dialog: it ends however the
        // click ends (tool run, failed, cancelled, or the tool not found).
        struct EndWatch {
            clsDissolve* self;
            ~EndWatch() { self->stopWatching(); }
        } endWatch{this};
        KV_LINE;
        watch(Map());
        KV_LINE;
        HostTool host = FindHostTool(hook(), "dissolve_management");
        KV_LINE;
        h::GPParameterArray params = host.tool->parameterInfo();
        KV_LINE;
        h::GPParameter& multiPart = params.element(4);
        KV_LINE;
        multiPart.setValue(multiPart.dataType().createValue("SINGLE_PART"));
        KV_LINE;
        host.toolbox->invokeTool(0, *host.tool, &params, false);
    });
}

void clsDissolve::myMap_ItemAdded(const h::LayerPtr& item) {
    KV_PROCEDURE("myMap_ItemAdded", TopLevel).run([&] {
        // One event is handled: the layer the tool has just added.
        KV_LINE;
        stopWatching();
        KV_LINE;
        AddAreaAndPerimFields(item, true);
    });
}

}  // namespace kv
