#pragma once
// The subcommands of korvane beyond the menu.
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "programs/korvane/DocumentFile.h"
#include "programs/korvane/Session.h"

namespace korvane::app {

// korvane's exit codes (the README lists them).
enum Exit : int {
    ExitOk = 0,
    ExitCommandLine = 1,   // bad command line
    ExitBadInput = 2,      // unknown command, unreadable file, unknown layer, a script line that cannot run
    ExitDisabled = 3,      // the command is disabled for the current map
    ExitErrorReport = 4,   // an error report was shown
    ExitStopMessage = 5,   // a message box other than a question or information was shown
    ExitNotSaved = 6,      // the map document could not be saved
    ExitNotWritten = 7,    // an output could not be written (what was there is kept)
};

struct Options {
    std::string command;
    std::string script;
    std::string path;
    std::string layer;
    std::string where;
    bool quiet = false;
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

// A layer of the focused map named by the user: "#N" (its position in the
// table of contents, 1 at the top, as `korvane status` numbers them), its
// name when no other layer has it, or the path of its data. With none, or a
// name several layers share, layer is null and problem says why (listing
// the layers of that name).
struct LayerLookup {
    host::LayerPtr layer;
    std::string problem;
};
LayerLookup findLayer(const host::Document& doc, const std::string& ref);

// One warning per name among NAMES that two or more layers of the map share (the
// dialogs find a layer by name and take the first); empty when none.
std::vector<std::string> sharedNameWarnings(const host::Document& doc, const std::set<std::string>& names);

// Whether a message box stops the command (anything but a question or an
// information box).
bool isStopMessage(const host::MessageBoxInfo& m);

}  // namespace korvane::app
