#pragma once
// korvane draw: the focused map's view as a PNG picture.
#include <string>

#include <CLI/CLI.hpp>

#include "programs/korvane/Session.h"

namespace korvane::app {

struct DrawOptions {
    std::string out;
    std::string size;    // "WxH"; empty: the default width, the map's aspect
    std::string extent;  // a layer, or "xmin,ymin,xmax,ymax"; empty: the map's full extent
};

// Adds the subcommand; returns it.
CLI::App* addDrawCommand(CLI::App& cli, DrawOptions& opt);
// Draws the map into opt.out; returns korvane's exit code.
int runDrawCommand(Session& session, const DrawOptions& opt);

}  // namespace korvane::app
