#include "shared/App.h"

#include "host/Application.h"

#ifndef KV_LIBRARY_NAME
#error "KV_LIBRARY_NAME must name the library this file is built into"
#endif
#ifndef KV_PROJECT_NAME
#error "KV_PROJECT_NAME must name the library's project"
#endif

namespace kv::App {

namespace {
std::string& title() {
    static std::string t = KV_PROJECT_NAME;
    return t;
}
}  // namespace

const std::string& Title() { return title(); }

void SetTitle(std::string t) {
    title() = std::move(t);
    korvane::host::Application::instance().setCaption(title());
}

void SetOwnTitle(std::string t) { title() = std::move(t); }

int32_t Major() { return KORVANE_VERSION_MAJOR; }
int32_t Minor() { return KORVANE_VERSION_MINOR; }
int32_t Revision() { return KORVANE_VERSION_REVISION; }
std::string Version() {
    return std::to_string(Major()) + "." + std::to_string(Minor()) + "." + std::to_string(Revision());
}
const char* LibraryName() { return KV_LIBRARY_NAME; }

std::string Path() {
    static const int anchor = 0;
    static const std::string folder = korvane::host::folderOfAddress(&anchor);   // the library does not move
    return folder;
}

}  // namespace kv::App

namespace kv {
int32_t MsgBox(const std::string& text, int32_t style, const std::string& title) {
    return korvane::host::MsgBox(text, style, title.empty() ? App::Title() : title);
}
}  // namespace kv
