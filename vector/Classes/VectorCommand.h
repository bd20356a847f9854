#pragma once
// The common shape of the vector library's command classes: the title set on
// creation, the fixed answers to the host, the hook kept in OnCreate, the
// dialog created once and shown on every click after the checks.
#include <memory>
#include <string>

#include "host/Application.h"
#include "host/Component.h"
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

class VectorCommand : public korvane::host::Component, public korvane::host::ICommand {
public:
    VectorCommand(const char* modulePath, std::string name, std::string caption, EnabledRule rule,
                  ClickSteps steps = {});

    bool Enabled() override;
    bool Checked() override;
    std::string Name() override;
    std::string Caption() override;
    std::string Tooltip() override;
    std::string Message() override;
    std::string HelpFile() override;
    int32_t HelpContextID() override;
    int32_t Bitmap() override;
    std::string Category() override;
    void OnCreate(korvane::host::Application* hook) override;
    void OnClick() override;

    // The focused map of the hook's document.
    korvane::host::MapPtr Map();

    KorvaneForm* dialog() const { return dialog_.get(); }
    korvane::host::Application* hook() const { return hook_; }

protected:
    // A dialog command creates its dialog here (once, in OnCreate).
    virtual std::unique_ptr<KorvaneForm> createDialog() { return nullptr; }
    // Whether the dialog is handed the hook.
    virtual bool handsHookToDialog() const { return true; }
    // A command without a dialog does its work here.
    virtual void clickWithoutDialog() {}

    const char* module_;

private:
    std::string name_, caption_;
    EnabledRule rule_;
    ClickSteps steps_;
    korvane::host::Application* hook_ = nullptr;
    std::unique_ptr<KorvaneForm> dialog_;
};

}  // namespace kv
