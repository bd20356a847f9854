#pragma once
// The host's toolbox and one of its tools, as the dissolve and intersect
// commands reach them: the toolbox extension by its class identifier, its
// toolbox, the tool by its name.
#include <string>

#include "host/Application.h"
#include "host/toolbox/Toolbox.h"

namespace kv {

struct HostTool {
    korvane::host::Toolbox* toolbox = nullptr;
    korvane::host::GPToolPtr tool;
};

// Fails (object not set) when the host has no toolbox extension or the
// toolbox has no tool of that name.
HostTool FindHostTool(korvane::host::Application* app, const std::string& toolName);

}  // namespace kv
