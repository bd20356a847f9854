#include "vector/Classes/clsIntersect.h"

#include "shared/ErrorHandling.h"
#include "vector/Classes/HostTool.h"

KV_MODULE("Classes/clsIntersect");

namespace kv {

clsIntersect::clsIntersect()
    : VectorCommand(kvModulePath_, "intersectPolygons", "Intersect Polygons", EnabledRule::TwoLayers) {}

void clsIntersect::clickWithoutDialog() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        KV_LINE;
        HostTool host = FindHostTool(hook(), "intersect_analysis");
        KV_LINE;
        host.toolbox->invokeTool(0, *host.tool, nullptr, false);
    });
}

}  // namespace kv
