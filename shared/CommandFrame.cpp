#include "shared/CommandFrame.h"

#include "host/Failure.h"
#include "host/System.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

namespace kv {

namespace h = korvane::host;

void SetProductTitle(const char* modulePath, const std::string& product, bool hostCaption) {
    Procedure p("Class_Initialize", modulePath, TopLevel);
    p.run([&] {
        p.line = __LINE__;
        std::string title = product + " - " + App::Version();
        if (hostCaption)
            App::SetTitle(std::move(title));
        else
            App::SetOwnTitle(std::move(title));
    });
}

CommandFrame::CommandFrame(const char* modulePath, std::string name, std::string caption)
    : module_(modulePath), name_(std::move(name)), caption_(std::move(caption)) {}

bool CommandFrame::Checked() { return false; }
std::string CommandFrame::Name() { return name_; }
std::string CommandFrame::Caption() { return caption_; }
std::string CommandFrame::Tooltip() { return {}; }
std::string CommandFrame::Message() { return {}; }
std::string CommandFrame::HelpFile() { return {}; }
int32_t CommandFrame::HelpContextID() { return 0; }
int32_t CommandFrame::Bitmap() { return 0; }
std::string CommandFrame::Category() { return {}; }

h::MapPtr CommandFrame::Map() {
    h::MapPtr result;
    KV_MEMBER("Map").run([&] {
        KV_LINE;
        if (!hook_) h::failObjectNotSet(KV_PROJECT_NAME);
        KV_LINE;
        result = hook_->document()->focusMap();
    });
    return result;
}

void OpenHelpPage() {
    korvane::host::Shell shell;
    shell.Run("\"" + App::Path() + "/kv_help.html\"", 1, false);
}

}  // namespace kv
