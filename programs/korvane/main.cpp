// korvane: the host program. It loads the Korvane libraries, keeps a map
// document between invocations, shows the menus and runs any command,
// driving its dialogs from a script or the terminal.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/Ui.h"
#include "programs/korvane/Commands.h"
#include "programs/korvane/DocumentFile.h"
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

// Prints what a command changed in the document.
void printChanges(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    for (auto& line : documentChanges(before, after)) std::cout << line << "\n";
}

void warnSharedNames(const h::Document& doc) {
    // What was printed so far comes first, also when both streams go to one pipe.
    std::cout.flush();
    for (auto& w : sharedNameWarnings(doc)) std::cerr << "korvane: warning: " << w << "\n";
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

int main(int argc, char** argv) {
    CLI::App cli{"korvane: landscape-pattern analysis of polygon and raster maps.\n"
                 "Loads the Korvane libraries, keeps a map document between invocations, shows the\n"
                 "menus and runs their commands; dialogs are driven from a script or the terminal."};
    cli.require_subcommand(1);
    cli.set_version_flag("--version", fmt::format("korvane {}.{}.{}", KORVANE_VERSION_MAJOR, KORVANE_VERSION_MINOR,
                                                  KORVANE_VERSION_REVISION));
    cli.footer("Exit codes: 0 success, 1 bad command line, 2 bad input, 3 command disabled, 4 error report shown,\n"
               "5 a message box stopped the command, 6 the map document could not be saved.");
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

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here with 0; every other problem is a bad command line.
        return cli.exit(e) == 0 ? ExitOk : ExitCommandLine;
    }
    // These only read the document: it is never written back.
    const bool readOnly = menu->parsed() || status->parsed() || cli.got_subcommand("show-table");

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
        app.document()->openDocument();
        auto before = documentItems(*app.document());
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
            warnSharedNames(*app.document());
            rc = runCommand(session, opt);
        } else {
            rc = runDataCommand(cli, session, opt);
        }
        if (!run->parsed()) warnSharedNames(*app.document());
        if (!readOnly) {
            printChanges(before, documentItems(*app.document()));
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
        return rc;
    } catch (const h::Failure& f) {
        std::cerr << "korvane: " << h::escapeControls(f.description()) << "\n";
        return ExitBadInput;
    } catch (const std::exception& e) {
        std::cerr << "korvane: " << h::escapeControls(e.what()) << "\n";
        return ExitBadInput;
    }
}
