#pragma once
// What every command class of both libraries has in common: the title set
// when the class is created, the fixed answers to the host, the hook kept
// from OnCreate and the focused map read through it. Each library derives
// its own frame (Enabled, OnCreate and OnClick are the library's).
#include <string>

#include "host/Application.h"
#include "host/Component.h"

namespace kv {

// Sets the library's title to the product name, " - " and the version
// "major.minor.revision", reporting under the given module. With hostCaption
// the host's window caption follows the title.
void SetProductTitle(const char* modulePath, const std::string& product, bool hostCaption);

// Opens the help page kv_help.html beside the library with the desktop's
// opener; the whole path goes in double quotes. Fails when the page is missing.
void OpenHelpPage();

class CommandFrame : public korvane::host::Component, public korvane::host::ICommand {
public:
    CommandFrame(const char* modulePath, std::string name, std::string caption);

    bool Checked() override;
    std::string Name() override;
    std::string Caption() override;
    std::string Tooltip() override;
    std::string Message() override;
    std::string HelpFile() override;
    int32_t HelpContextID() override;
    int32_t Bitmap() override;
    std::string Category() override;

    // The focused map of the hook's document; reported (and nothing) before
    // OnCreate has given the hook.
    korvane::host::MapPtr Map();

    korvane::host::Application* hook() const { return hook_; }

protected:
    void keepHook(korvane::host::Application* hook) { hook_ = hook; }

    const char* module_;

private:
    std::string name_, caption_;
    korvane::host::Application* hook_ = nullptr;
};

}  // namespace kv

// A member's handler, reporting under the object's module (module_).
#define KV_MEMBER(procName) ::kv::Procedure kvProc_(procName, module_, ::kv::TopLevel); kvProc_
