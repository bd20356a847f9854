#pragma once
// The frame of the raster library's command classes (clsG_...), on the
// shared command frame: creating a command sets the library's own title
// ("Korvane Grid - major.minor.revision"; the host's window caption is left
// alone), OnCreate keeps the hook and then runs the class's own creation
// work. Enabled and OnClick are each class's own.
//
// The library-wide map-layers-changed flag lives here too: the commands that
// look for suitable layers cache their Enabled answer and rescan the map only
// while the flag is set; the about command's Enabled clears it.
#include <memory>
#include <vector>

#include "host/Application.h"
#include "host/Component.h"
#include "host/Forms.h"
#include "shared/CommandFrame.h"
#include "shared/modMisc.h"

namespace kv {

// The library-wide flag, False when the library is loaded. Reached through
// functions so that every caller, inside the library or outside it, sees the
// library's own copy.
bool MapLayersChanged();
void SetMapLayersChanged(bool changed);

class GridCommand : public CommandFrame, public korvane::host::ICommandNeeds {
public:
    // setsTitle is false only for a command that leaves the title alone.
    GridCommand(const char* modulePath, std::string name, std::string caption, bool setsTitle = true);

    // What the map lacks while the command is disabled, for the korvane
    // program's refusal; empty for a command that is always enabled.
    std::string Needs() override { return {}; }

    void OnCreate(korvane::host::Application* hook) override;

protected:
    // The class's own creation work, after the hook is kept (inside OnCreate's handler).
    virtual void created() {}
};

// A command whose Enabled answer is cached between changes of the map's
// layers. While MapLayersChanged is set, Enabled runs the command's own test
// on the focused map and stores the outcome; otherwise it answers the stored
// value without looking at the map. The answer is False from OnCreate until
// the first question asked while the flag is set, and False when the test
// fails (the failure is reported). Enabled never changes the flag.
class GridCachingCommand : public GridCommand {
public:
    using GridCommand::GridCommand;

    bool Enabled() final;

protected:
    // The command's own test of the focused map.
    virtual bool EnabledTest() = 0;
    // Clears the stored answer; a derived command that adds creation work calls this first.
    void created() override;

private:
    bool m_blnEnabled = false;
};

// The dialog of a click: dialogs closed since the last click are let go
// (open ones stay), a new one gets the hook, the host's main window as its
// owner, and is shown modeless.
template <class Form>
Form& OpenGridDialog(std::vector<std::unique_ptr<Form>>& dialogs, korvane::host::Application* hook) {
    std::erase_if(dialogs, [](const auto& d) { return !d->loaded(); });
    auto dialog = std::make_unique<Form>();
    dialog->setArcMapHook(hook);
    Form& form = *dialog;
    dialogs.push_back(std::move(dialog));
    korvane::host::SetWindowLongA(form.hWnd(), korvane::host::GWL_HWNDPARENT, hook->hWnd());
    ShowForm(form, false);
    return form;
}

}  // namespace kv
