#pragma once
// One invocation of korvane: the loaded libraries, the document, the UI
// driver, and the menus and commands created from the libraries.
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Component.h"
#include "host/Ui.h"

namespace korvane::app {

struct MenuEntry {
    int32_t position;
    std::string id;        // empty: no command at this position
    bool group = false;
    host::ICommand* command = nullptr;   // nullptr: the class is not available
};

struct MenuView {
    std::string progId;
    std::string caption;
    std::string name;
    std::vector<MenuEntry> items;
};

class Session {
public:
    Session(std::ostream& out, std::string libraryFolder);

    host::Application& app() { return app_; }
    host::ScriptDriver& driver() { return driver_; }

    // Menus of the loaded libraries, with their commands created.
    const std::vector<MenuView>& menus();
    void printMenus();

    // Finds a command by caption, name or identifier (menus first, then any
    // registered command class). nullptr when none matches.
    host::ICommand* findCommand(const std::string& key);

    std::vector<std::string> loadedLibraries;
    // Libraries of the folder that the loader refused, with its message.
    std::vector<std::string> libraryFailures;

private:
    host::ICommand* createCommand(const std::string& id);

    std::ostream& out_;
    host::Application& app_;
    host::ScriptDriver driver_;
    std::vector<std::unique_ptr<host::Component>> objects_;
    std::vector<std::pair<std::string, host::ICommand*>> commands_;
    std::vector<MenuView> menus_;
    bool menusBuilt_ = false;
};

}  // namespace korvane::app
