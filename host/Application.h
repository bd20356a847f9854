#pragma once
// The host application: its window, title, document, the libraries it has
// loaded and where they live, and its error-report viewer.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "host/Component.h"
#include "host/Document.h"
#include "host/Extension.h"

namespace korvane::host {

class Application {
public:
    Application();

    // The running host (one per process).
    static Application& instance();

    const std::string& caption() const { return caption_; }
    void setCaption(std::string c) { caption_ = std::move(c); }
    intptr_t hWnd() const { return hwnd_; }

    DocumentPtr document() const { return document_; }
    void setDocument(DocumentPtr d);

    ComponentRegistry& registry() { return registry_; }

    // Whether the host accepts modeless windows from libraries.
    bool modelessAllowed = true;

    // The screen's mouse pointer: the wait cursor while a library works
    // through a long run, the default otherwise.
    enum class Pointer { Default, Wait };
    Pointer mousePointer = Pointer::Default;
    // Sets the pointer and tells whoever watches the screen.
    void setMousePointer(Pointer p) {
        mousePointer = p;
        mousePointerChanged(p);
    }
    Event<Pointer> mousePointerChanged;

    // Library folder by library name ("Korvane93").
    void setLibraryFolder(const std::string& library, const std::string& folder);
    std::string libraryFolder(const std::string& library) const;

    // Loads every library "lib*.so" of folder that exports the registration
    // entry point; returns the names loaded. A library that the loader
    // refuses is added to failures (when given) as "name: loader's message".
    std::vector<std::string> loadLibraries(const std::string& folder, std::vector<std::string>* failures = nullptr);
    // Loads one library file; fails with a message when it cannot.
    void loadLibrary(const std::string& path);

    // The extension of that class identifier, created on the first lookup;
    // nullptr when the host has no such extension.
    Extension* findExtensionByCLSID(const UID& clsid);

private:
    std::string caption_ = "Korvane";
    intptr_t hwnd_;
    DocumentPtr document_;
    ComponentRegistry registry_;
    std::map<std::string, std::string> folders_;
    std::map<std::string, std::shared_ptr<Extension>> extensions_;
};

// The folder of the shared object or program that holds the given address.
std::string folderOfAddress(const void* address);

// The viewer that shows an error report at the top level.
class ErrorReportViewer {
public:
    void setReportText(std::string text) { text_ = std::move(text); }
    const std::string& reportText() const { return text_; }
    void show(bool modal);

private:
    std::string text_;
};

}  // namespace korvane::host
