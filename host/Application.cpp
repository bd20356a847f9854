#include "host/Application.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/Ui.h"

namespace korvane::host {

namespace {
intptr_t nextWindowHandle() {
    static intptr_t next = 0x10000;
    return next += 0x10;
}
}  // namespace

Application::Application() : hwnd_(nextWindowHandle()), document_(std::make_shared<Document>()) {}

Application& Application::instance() {
    static Application app;
    return app;
}

void Application::setDocument(DocumentPtr d) {
    document_ = std::move(d);
    document_->openDocument();
}

void Application::setLibraryFolder(const std::string& library, const std::string& folder) {
    folders_[library] = folder;
}

std::string Application::libraryFolder(const std::string& library) const {
    auto it = folders_.find(library);
    return it == folders_.end() ? std::string{} : it->second;
}

void Application::loadLibrary(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) fail(err::HostFileNotFound, "Application", std::string("Cannot load ") + path + ": " + dlerror());
    auto reg = reinterpret_cast<RegisterFunction>(dlsym(handle, kRegisterSymbol));
    if (!reg) {
        dlclose(handle);
        fail(err::HostGeneric, "Application", path + " is not a Korvane component library.");
    }
    reg(registry_);
}

std::vector<std::string> Application::loadLibraries(const std::string& folder, std::vector<std::string>* failures) {
    namespace sfs = std::filesystem;
    std::vector<std::string> paths;
    std::error_code ec;
    for (auto& entry : sfs::directory_iterator(folder, ec)) {
        auto name = entry.path().filename().string();
        if (name.rfind("lib", 0) == 0 && entry.path().extension() == ".so") paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> loaded;
    for (auto& p : paths) {
        void* handle = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
        if (!handle) handle = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            if (failures) failures->push_back(sfs::path(p).filename().string() + ": " + (why ? why : "cannot be loaded"));
            continue;
        }
        auto reg = reinterpret_cast<RegisterFunction>(dlsym(handle, kRegisterSymbol));
        if (!reg) continue;   // a helper library, not a component library
        reg(registry_);
        loaded.push_back(sfs::path(p).filename().string());
    }
    return loaded;
}

std::string folderOfAddress(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fname && *info.dli_fname) {
        std::error_code ec;
        auto p = std::filesystem::canonical(info.dli_fname, ec);
        if (ec) p = std::filesystem::absolute(info.dli_fname);
        return p.parent_path().string();
    }
    return std::filesystem::current_path().string();
}

namespace {
std::map<std::string, ExtensionFactory>& extensionClasses() {
    static std::map<std::string, ExtensionFactory> classes;
    return classes;
}
}  // namespace

void registerExtensionClass(const std::string& clsid, ExtensionFactory factory) {
    extensionClasses()[clsid] = std::move(factory);
}

Extension* Application::findExtensionByCLSID(const UID& clsid) {
    auto it = extensions_.find(clsid.value());
    if (it != extensions_.end()) return it->second.get();
    auto cls = extensionClasses().find(clsid.value());
    if (cls == extensionClasses().end()) return nullptr;
    auto ext = cls->second(*this);
    Extension* raw = ext.get();
    extensions_[clsid.value()] = std::move(ext);
    return raw;
}

void ErrorReportViewer::show(bool /*modal*/) { ui().showErrorReport(withoutTemporaryNames(text_)); }

}  // namespace korvane::host
