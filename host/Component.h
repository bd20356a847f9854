#pragma once
// Components the host creates by programmatic identifier ("Korvane.clsSpatialStats"),
// and the interfaces through which it drives menus and commands.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane::host {

class Application;

// Every object the host creates by identifier derives from Component; the
// host asks for an interface with dynamic_cast.
class Component {
public:
    virtual ~Component() = default;
};

// A command on a menu.
class ICommand {
public:
    virtual ~ICommand() = default;
    virtual bool Enabled() = 0;
    virtual bool Checked() = 0;
    virtual std::string Name() = 0;
    virtual std::string Caption() = 0;
    virtual std::string Tooltip() = 0;
    virtual std::string Message() = 0;
    virtual std::string HelpFile() = 0;
    virtual int32_t HelpContextID() = 0;
    virtual int32_t Bitmap() = 0;
    virtual std::string Category() = 0;
    virtual void OnCreate(Application* hook) = 0;
    virtual void OnClick() = 0;
};

// What a disabled command needs of the map before it is enabled, in words
// that complete "it needs ..." ("a feature layer selected in the table of
// contents"); empty when it needs nothing. A command may offer it, so that
// the host can tell the user why the command is unavailable.
class ICommandNeeds {
public:
    virtual ~ICommandNeeds() = default;
    virtual std::string Needs() = 0;
};

// What the host hands a menu to describe one of its positions.
class IItemDef {
public:
    virtual ~IItemDef() = default;
    virtual void setID(const std::string& id) = 0;
    virtual void setGroup(bool group) = 0;
};

struct ItemDef : IItemDef {
    std::optional<std::string> id;
    bool group = false;
    void setID(const std::string& v) override { id = v; }
    void setGroup(bool g) override { group = g; }
};

class IMenuDef {
public:
    virtual ~IMenuDef() = default;
    virtual int32_t ItemCount() = 0;
    virtual void GetItemInfo(int32_t pos, IItemDef& item) = 0;
    virtual std::string Name() = 0;
    virtual std::string Caption() = 0;
};

// Marks a menu that the host shows on its main menu bar.
class IRootLevelMenu {
public:
    virtual ~IRootLevelMenu() = default;
};

using ComponentFactory = std::function<std::unique_ptr<Component>()>;

// The host's table of creatable classes, filled by each library's
// registration entry point.
class ComponentRegistry {
public:
    struct Entry {
        std::string progId;
        std::string library;   // the library that registered it
        ComponentFactory factory;
    };

    void add(const std::string& progId, const std::string& library, ComponentFactory factory);
    bool has(const std::string& progId) const;
    // Creates the component; nullptr when the identifier is unknown.
    std::unique_ptr<Component> create(const std::string& progId) const;
    // Identifiers in registration order.
    std::vector<std::string> ids() const;
    const Entry* find(const std::string& progId) const;

private:
    std::vector<Entry> entries_;
};

// A library's registration entry point, exported with C linkage under this name.
inline constexpr const char* kRegisterSymbol = "korvane_register_components";
using RegisterFunction = void (*)(ComponentRegistry&);

}  // namespace korvane::host
