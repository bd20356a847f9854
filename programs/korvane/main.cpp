// korvane: the host program. It loads the Korvane libraries, keeps a map
// document between invocations, shows the menus and runs any command,
// driving its dialogs from a script or the terminal.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/Ui.h"
#include "programs/korvane/Commands.h"
#include "programs/korvane/DocumentFile.h"
#include "programs/korvane/DrawCommand.h"
#include "programs/korvane/Session.h"

namespace h = korvane::host;
using namespace korvane::app;

namespace {
std::string programFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path().string() : exe.parent_path().string();
}

std::string defaultDocument() {
    if (const char* d = std::getenv("KORVANE_DOC"); d && *d) return d;
    return "korvane-document.json";
}

// Prints what a command changed in the document: items are compared as a
// multiset, so that a second layer of the same file is listed too.
void printChanges(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    for (auto& line : documentChanges(before, after)) std::cout << line << "\n";
}

std::map<std::string, size_t> layerNameCounts(const h::Document& doc) {
    std::map<std::string, size_t> counts;
    for (auto& layer : doc.focusMap()->allLayers()) ++counts[layer->name()];
    return counts;
}

// Warns when the command left a layer name shared by more layers than before:
// a shared name is told once, when it arises, not on every later command.
void warnNewSharedNames(const h::Document& doc, std::map<std::string, size_t> before) {
    std::set<std::string> arisen;
    for (auto& [name, count] : layerNameCounts(doc))
        if (count >= 2 && count > before[name]) arisen.insert(name);
    if (arisen.empty()) return;
    // What was printed so far comes first, also when both streams go to one pipe.
    std::cout.flush();
    for (auto& w : sharedNameWarnings(doc, arisen)) std::cerr << "korvane: warning: " << w << "\n";
}

// Saves the document; a failure leaves the stored one and is reported.
bool saveDocument(const h::Document& doc, const std::string& path) {
    try {
        DocumentFile::save(doc, path);
        return true;
    } catch (const h::Failure& f) {
        std::cerr << "korvane: " << h::escapeControls(f.description()) << "\n";
    } catch (const std::exception& e) {
        std::cerr << "korvane: the map document " << h::escapeControls(path) << " could not be saved: " << e.what()
                  << "\n";
    }
    return false;
}
}  // namespace

namespace {

// The raster runs work strip by strip with buffers of some megabytes each,
// made and dropped thousands of times by a few threads. Left to itself the
// allocator maps every one afresh (so the kernel zeroes its pages on first
// touch) and gives it back at once; kept in two arenas, up to 32 MiB each
// before they shrink, the buffers are reused, and the memory held stays
// within a few strips.
void tuneAllocator() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
    mallopt(M_ARENA_MAX, 2);
}

}  // namespace

int main(int argc, char** argv) {
    tuneAllocator();
    CLI::App cli{"korvane: landscape-pattern analysis of polygon and raster maps.\n"
                 "Loads the Korvane libraries, keeps a map document between invocations, shows the\n"
                 "menus and runs their commands; dialogs are driven from a script or the terminal."};
    cli.require_subcommand(1);
    cli.set_version_flag("--version", fmt::format("korvane {}.{}.{}", KORVANE_VERSION_MAJOR, KORVANE_VERSION_MINOR,
                                                  KORVANE_VERSION_REVISION));
    cli.footer("Exit codes: 0 success, 1 bad command line, 2 bad input, 3 command disabled, 4 error report shown,\n"
               "5 a message box stopped the command, 6 the map document could not be saved, 7 an output could not be\n"
               "written (a full disk, a failed write, a file that may not be replaced: what was there is kept).");
    std::string docPath = defaultDocument();
    std::string libFolder = programFolder();
    Options opt;
    cli.add_option("--doc", docPath, "The map document file (default: $KORVANE_DOC or ./korvane-document.json)");
    cli.add_option("--libs", libFolder, "The folder that holds the Korvane libraries")->check(CLI::ExistingDirectory);
    cli.add_flag("-q,--quiet", opt.quiet, "Draw no progress lines");

    auto* menu = cli.add_subcommand("menu", "Print each library's menu as the host draws it");
    auto* run = cli.add_subcommand("run", "Run a command (by caption, name or identifier) and drive its dialogs");
    run->add_option("command", opt.command, "The command, e.g. \"About Korvane\"")->required();
    run->add_option("--script", opt.script, "Drive the dialogs from this script file (- reads standard input)");
    auto* status = cli.add_subcommand("status", "Print the map document's layers, tables and units");
    auto* reset = cli.add_subcommand("new", "Start an empty map document");
    addDataCommands(cli, opt);
    DrawOptions drawOpt;
    auto* draw = addDrawCommand(cli, drawOpt);

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here with 0; every other problem is a bad command line.
        return cli.exit(e) == 0 ? ExitOk : ExitCommandLine;
    }
    // These only read the document: it is never written back.
    const bool readOnly = menu->parsed() || status->parsed() || cli.got_subcommand("show-table") || draw->parsed();

    try {
        if (reset->parsed()) {
            if (!saveDocument(h::Document{}, docPath)) return ExitNotSaved;
            std::cout << "New map document " << h::escapeControls(docPath) << "\n";
            return ExitOk;
        }
        Session session(std::cout, libFolder);
        for (auto& failure : session.libraryFailures)
            std::cerr << "korvane: a library could not be loaded: " << h::escapeControls(failure) << "\n";
        auto& app = session.app();
        // The commands exist before the document is read, as in the host: the
        // ones that follow the map's layers see it opened.
        session.menus();
        DocumentFile::loadInto(*app.document(), docPath, layerOpener());
        {
            std::error_code ec;
            const auto absolute = std::filesystem::absolute(docPath, ec);
            if (!ec) app.document()->setFolder(absolute.parent_path().string());
        }
        app.document()->openDocument();
        auto before = documentItems(*app.document());
        const auto namesBefore = layerNameCounts(*app.document());
        session.driver().progressOut = opt.quiet ? nullptr : &std::cerr;

        int rc = ExitOk;
        if (menu->parsed()) {
            session.printMenus();
        } else if (status->parsed()) {
            auto layers = app.document()->focusMap()->allLayers();
            size_t n = 0;
            for (auto& item : before) {
                if (item.rfind("layer ", 0) == 0) std::cout << "#" << ++n << " ";
                std::cout << item << "\n";
            }
            printRasterDetails(*app.document(), std::cout);
            if (auto sel = app.document()->selectedLayer()) {
                auto at = std::find(layers.begin(), layers.end(), sel) - layers.begin();
                std::cout << "selected " << h::escapeControls(sel->name()) << " (#" << at + 1 << ")\n";
            }
        } else if (run->parsed()) {
            rc = runCommand(session, opt);
        } else if (draw->parsed()) {
            rc = runDrawCommand(session, drawOpt);
        } else {
            rc = runDataCommand(cli, session, opt);
        }
        // A write of the command's that failed; the document's own save is
        // told apart below.
        const bool notWritten = !h::failedWrites().empty();
        if (!readOnly) {
            printChanges(before, documentItems(*app.document()));
            warnNewSharedNames(*app.document(), namesBefore);
            if (!saveDocument(*app.document(), docPath) && rc == ExitOk) rc = ExitNotSaved;
        }
        auto& driver = session.driver();
        if (rc == ExitOk && driver.scriptError) {
            std::cerr << "korvane: " << h::escapeControls(*driver.scriptError) << "\n";
            rc = ExitBadInput;
        }
        if (rc == ExitOk && !driver.errorReports.empty()) rc = ExitErrorReport;
        if (rc == ExitOk && std::any_of(driver.messages.begin(), driver.messages.end(), isStopMessage))
            rc = ExitStopMessage;
        if (notWritten && (rc == ExitOk || rc == ExitErrorReport || rc == ExitStopMessage)) rc = ExitNotWritten;
        return rc;
    } catch (const h::Failure& f) {
        std::cerr << "korvane: " << h::escapeControls(h::withoutTemporaryNames(f.description())) << "\n";
        return h::failedWrites().empty() ? ExitBadInput : ExitNotWritten;
    } catch (const std::exception& e) {
        std::cerr << "korvane: " << h::escapeControls(h::withoutTemporaryNames(e.what())) << "\n";
        return h::failedWrites().empty() ? ExitBadInput : ExitNotWritten;
    }
}
