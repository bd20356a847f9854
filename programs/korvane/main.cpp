// korvane: the host program. It loads the Korvane libraries, keeps a map
// document between invocations, shows the menus and runs any command,
// driving its dialogs from a script or the terminal.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "host/Application.h"
#include "host/Failure.h"
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
    auto isUnits = [](const std::string& s) { return s.rfind("map units ", 0) == 0; };
    for (auto& a : after)
        if (std::find(before.begin(), before.end(), a) == before.end())
            std::cout << (isUnits(a) ? "~ " : "+ ") << a << "\n";
    for (auto& b : before)
        if (!isUnits(b) && std::find(after.begin(), after.end(), b) == after.end()) std::cout << "- " << b << "\n";
}
}  // namespace

int main(int argc, char** argv) {
    CLI::App cli{"korvane: landscape-pattern analysis of polygon and raster maps.\n"
                 "Loads the Korvane libraries, keeps a map document between invocations, shows the\n"
                 "menus and runs their commands; dialogs are driven from a script or the terminal."};
    cli.require_subcommand(1);
    std::string docPath = defaultDocument();
    std::string libFolder = programFolder();
    cli.add_option("--doc", docPath, "The map document file (default: $KORVANE_DOC or ./korvane-document.json)");
    cli.add_option("--libs", libFolder, "The folder that holds the Korvane libraries")->check(CLI::ExistingDirectory);

    Options opt;
    auto* menu = cli.add_subcommand("menu", "Print each library's menu as the host draws it");
    auto* run = cli.add_subcommand("run", "Run a command (by caption, name or identifier) and drive its dialogs");
    run->add_option("command", opt.command, "The command, e.g. \"About Korvane\"")->required();
    run->add_option("--script", opt.script, "Drive the dialogs from this script file")->check(CLI::ExistingFile);
    auto* status = cli.add_subcommand("status", "Print the map document's layers, tables and units");
    auto* reset = cli.add_subcommand("new", "Start an empty map document");
    addDataCommands(cli, opt);

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return cli.exit(e);
    }

    try {
        if (reset->parsed()) {
            DocumentFile::save(h::Document{}, docPath);
            std::cout << "New map document " << docPath << "\n";
            return 0;
        }
        Session session(std::cout, libFolder);
        auto& app = session.app();
        // The commands exist before the document is read, as in the host: the
        // ones that follow the map's layers see it opened.
        session.menus();
        DocumentFile::loadInto(*app.document(), docPath, layerOpener());
        app.document()->openDocument();
        auto before = documentItems(*app.document());
        session.driver().progressOut = &std::cerr;

        int rc = 0;
        if (menu->parsed()) {
            session.printMenus();
        } else if (status->parsed()) {
            for (auto& item : before) std::cout << item << "\n";
            printRasterDetails(*app.document(), std::cout);
            if (auto sel = app.document()->selectedLayer()) std::cout << "selected " << sel->name() << "\n";
        } else if (run->parsed()) {
            rc = runCommand(session, opt);
        } else {
            rc = runDataCommand(cli, session, opt);
        }
        printChanges(before, documentItems(*app.document()));
        DocumentFile::save(*app.document(), docPath);
        if (rc == 0 && !session.driver().errorReports.empty()) rc = 4;
        return rc;
    } catch (const h::Failure& f) {
        std::cerr << "korvane: " << f.description() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "korvane: " << e.what() << "\n";
        return 2;
    }
}
