#pragma once
// The common shape of the vector library's command classes: on the shared
// command frame (title, fixed answers, hook, map), the Enabled rules, the
// dialog created once in OnCreate and shown on every click after the checks.
#include <memory>
#include <string>

#include "host/Application.h"
#include "shared/CommandFrame.h"
#include "shared/KorvaneForm.h"

namespace kv {

enum class EnabledRule { Always, OneLayer, TwoLayers, LayerSelected };

// Which of the click's checks a dialog command runs, in this order.
struct ClickSteps {
    bool layerCheck = false;        // no layers: "There are no layers loaded.  Cannot continue"
    bool hookCheck = false;         // no hook: "Error with ArcMap hook"
    bool mapUnits = false;          // CheckAndSetMapUnits
    bool layerCheckAfterUnits = false;
};

// Sets the library title, "Korvane - " and the version (every command class
// and the menu do this when created). Reports under the given module.
void SetLibraryTitle(const char* modulePath);

class VectorCommand : public CommandFrame, public korvane::host::ICommandNeeds {
public:
    VectorCommand(const char* modulePath, std::string name, std::string caption, EnabledRule rule,
                  ClickSteps steps = {});

    bool Enabled() override;
    // The Enabled rule in words.
    std::string Needs() override;
    void OnCreate(korvane::host::Application* hook) override;
    void OnClick() override;

    KorvaneForm* dialog() const { return dialog_.get(); }

protected:
    // A dialog command creates its dialog here (once, in OnCreate).
    virtual std::unique_ptr<KorvaneForm> createDialog() { return nullptr; }
    // Whether the dialog is handed the hook.
    virtual bool handsHookToDialog() const { return true; }
    // A command without a dialog does its work here.
    virtual void clickWithoutDialog() {}

private:
    EnabledRule rule_;
    ClickSteps steps_;
    std::unique_ptr<KorvaneForm> dialog_;
};

}  // namespace kv
