#pragma once
// Host extensions: objects of the host that libraries find by class
// identifier (a UID whose value is the extension's identifier text). An
// extension class registers itself with the host when the host's library is
// loaded; the application creates one object of it on the first lookup.
#include <functional>
#include <memory>
#include <string>

namespace korvane::host {

class Application;

// A unique identifier as the host takes it: its value is a text.
class UID {
public:
    UID() = default;
    explicit UID(std::string value) : value_(std::move(value)) {}
    const std::string& value() const { return value_; }
    void setValue(std::string v) { value_ = std::move(v); }

private:
    std::string value_;
};

class Extension {
public:
    virtual ~Extension() = default;
    virtual std::string name() const = 0;
};

using ExtensionFactory = std::function<std::shared_ptr<Extension>(Application&)>;
// Makes the extension class known under its identifier; called once per
// class, from the host's own code.
void registerExtensionClass(const std::string& clsid, ExtensionFactory factory);

}  // namespace korvane::host
