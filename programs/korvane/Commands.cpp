#include "programs/korvane/Commands.h"

#include <unistd.h>

#include <iostream>

#include <fmt/format.h>

namespace korvane::app {

namespace h = korvane::host;

int runCommand(Session& session, const Options& opt) {
    h::ICommand* cmd = session.findCommand(opt.command);
    if (!cmd) {
        std::cerr << fmt::format("korvane: no command \"{}\" (see korvane menu)\n", opt.command);
        return 2;
    }
    auto& driver = session.driver();
    if (!opt.script.empty()) driver.addScriptFile(opt.script);
    else if (isatty(STDIN_FILENO)) driver.setInteractive(&std::cin);
    if (!cmd->Enabled()) {
        std::cerr << fmt::format("korvane: \"{}\" is not available now (the host shows it disabled)\n",
                                 cmd->Caption());
        return 3;
    }
    cmd->OnClick();
    driver.driveModeless();
    return 0;
}

void addDataCommands(CLI::App&, Options&) {}

int runDataCommand(CLI::App&, Session&, const Options&) { return 0; }

LayerOpener layerOpener() { return {}; }

}  // namespace korvane::app
