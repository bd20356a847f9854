#include "vector/Classes/HostTool.h"

#include "host/Failure.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Classes/HostTool");

namespace kv {

namespace h = korvane::host;

HostTool FindHostTool(h::Application* app, const std::string& toolName) {
    HostTool result;
    KV_PROCEDURE("FindHostTool", Inner).run([&] {
        KV_LINE;
        if (!app) h::failObjectNotSet(KV_PROJECT_NAME);
        KV_LINE;
        h::UID uid;
        uid.setValue(h::kToolboxExtensionId);
        KV_LINE;
        auto* extension = dynamic_cast<h::ToolboxExtension*>(app->findExtensionByCLSID(uid));
        if (!extension) h::failObjectNotSet(KV_PROJECT_NAME);
        KV_LINE;
        result.toolbox = &extension->arcToolbox();
        KV_LINE;
        result.tool = result.toolbox->getToolByNameString(toolName);
        if (!result.tool) h::failObjectNotSet(KV_PROJECT_NAME);
    });
    return result;
}

}  // namespace kv
