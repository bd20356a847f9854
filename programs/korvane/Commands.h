#pragma once
// The subcommands of korvane beyond the menu.
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "programs/korvane/DocumentFile.h"
#include "programs/korvane/Session.h"

namespace korvane::app {

struct Options {
    std::string command;
    std::string script;
    std::string path;
    std::string layer;
    std::string where;
};

// Runs a menu command: creates it, asks Enabled, clicks it and drives the
// dialogs it opens. Returns the exit code.
int runCommand(Session& session, const Options& opt);

// Data commands (add, select, toc, show-table).
void addDataCommands(CLI::App& cli, Options& opt);
int runDataCommand(CLI::App& cli, Session& session, const Options& opt);
// How stored layers come back when a document is read.
LayerOpener layerOpener();
// For status: each raster layer's size, cell size, pixel type and table.
void printRasterDetails(const host::Document& doc, std::ostream& out);

}  // namespace korvane::app
