#pragma once
// The host's toolbox: geoprocessing tools found by name, their typed
// parameter lists, and the tool dialog that InvokeTool shows. The dialog is
// a headless form like every other (host/Forms.h), so scripts and the
// terminal fill it in through the UI driver.
//
// A library reaches the toolbox as a host extension:
//   UID id(kToolboxExtensionId);
//   auto* ext = dynamic_cast<ToolboxExtension*>(app.findExtensionByCLSID(id));
//   auto tool = ext->arcToolbox().getToolByNameString("dissolve_management");
//   GPParameterArray params = tool->parameterInfo();
//   params.element(4).setValue(params.element(4).dataType().createValue("SINGLE_PART"));
//   LayerPtr added = ext->arcToolbox().invokeTool(0, *tool, &params, false);
//
// Tools of the toolbox: dissolve_management and intersect_analysis
// (host/toolbox/Dissolve.cpp, Intersect.cpp), polygons on GEOS.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/Extension.h"
#include "host/Layer.h"

namespace korvane::host {

class Application;

// The class identifier of the toolbox extension.
inline constexpr const char* kToolboxExtensionId = "esriGeoprocessingUI.ArcToolboxExtension";

// What a parameter holds; its dialog control follows from it.
enum class GPDataKind {
    FeatureLayer,        // one input: a layer of the focused map by name, or a shapefile path
    MultiFeatureLayer,   // several inputs, separated by ';'
    FeatureClass,        // an output shapefile path
    FieldList,           // field names of the dependency's input, separated by ';'
    StatisticsTable,     // "FIELD STATISTIC;..." (SUM MEAN MIN MAX RANGE STD COUNT FIRST LAST)
    Boolean,             // one of two keywords: the first means true
    Keyword,             // one of a list of keywords
    LinearUnit,          // a distance: a number, optionally followed by a unit name
};

class GPValue {
public:
    GPValue() = default;
    explicit GPValue(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }
    bool empty() const { return text_.empty(); }

private:
    std::string text_;
};

class GPDataType {
public:
    GPDataType(GPDataKind kind, std::string name, std::vector<std::string> keywords = {})
        : kind_(kind), name_(std::move(name)), keywords_(std::move(keywords)) {}
    GPDataKind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    // Boolean: {true keyword, false keyword}; Keyword: the choices.
    const std::vector<std::string>& keywords() const { return keywords_; }
    // The value this type makes from a text. Boolean and keyword types take
    // only their keywords (in any letter case) and give the keyword as the
    // type spells it; they fail (HostInvalidArg) for any other text. The
    // other types take the text as it is (their tool checks it when it runs).
    GPValue createValue(const std::string& text) const;

private:
    GPDataKind kind_;
    std::string name_;
    std::vector<std::string> keywords_;
};

enum class GPDirection { Input, Output };

class GPParameter {
public:
    GPParameter(std::string name, std::string displayName, GPDataType type, GPDirection direction, bool required,
                GPValue value = {}, std::string dependency = {})
        : name_(std::move(name)), displayName_(std::move(displayName)), type_(std::move(type)),
          direction_(direction), required_(required), value_(std::move(value)), dependency_(std::move(dependency)) {}
    const std::string& name() const { return name_; }
    const std::string& displayName() const { return displayName_; }
    const GPDataType& dataType() const { return type_; }
    GPDirection direction() const { return direction_; }
    bool required() const { return required_; }
    // The parameter whose input a field list lists.
    const std::string& dependency() const { return dependency_; }
    const GPValue& value() const { return value_; }
    void setValue(GPValue v) { value_ = std::move(v); }

private:
    std::string name_, displayName_;
    GPDataType type_;
    GPDirection direction_;
    bool required_;
    GPValue value_;
    std::string dependency_;
};

// A tool's parameters in the tool's order.
class GPParameterArray {
public:
    GPParameterArray() = default;
    explicit GPParameterArray(std::vector<GPParameter> p) : params_(std::move(p)) {}
    int32_t count() const { return static_cast<int32_t>(params_.size()); }
    // Fails (HostInvalidArg) out of range.
    GPParameter& element(int32_t index);
    const GPParameter& element(int32_t index) const;
    // By name; fails (HostInvalidArg) when there is none.
    const GPParameter& named(const std::string& name) const;
    GPParameter& named(const std::string& name);
    // The value's text of the parameter of that name.
    const std::string& text(const std::string& name) const { return named(name).value().text(); }

private:
    std::vector<GPParameter> params_;
};

// What a tool is run against: the focused map, where input names are looked
// up, and where it reports progress (a status text and the share done, 0..1).
struct ToolContext {
    MapPtr map;
    std::function<void(const std::string& status, double done)> progress;
    void report(const std::string& status, double done) const {
        if (progress) progress(status, done);
    }
};

class GPTool {
public:
    virtual ~GPTool() = default;
    virtual std::string name() const = 0;          // "dissolve_management"
    virtual std::string displayName() const = 0;   // "Dissolve"
    // A fresh list with the tool's defaults.
    virtual GPParameterArray parameterInfo() const = 0;
    // Checks the values before anything is written: "" when the tool may
    // run, otherwise the message that tells what is wrong.
    virtual std::string validate(const GPParameterArray& params, const ToolContext& ctx) const = 0;
    // Runs the tool on values that validate() accepted and returns the path
    // of the shapefile it wrote. A failure leaves no output behind.
    virtual std::string execute(const GPParameterArray& params, const ToolContext& ctx) const = 0;
};
using GPToolPtr = std::shared_ptr<GPTool>;

class Toolbox {
public:
    explicit Toolbox(Application& app);
    void addTool(GPToolPtr tool);
    // The tool of that name, or nullptr.
    GPToolPtr getToolByNameString(const std::string& name) const;
    // Shows the tool's dialog modally, filled from params (the tool's own
    // defaults when params is nullptr). OK checks the values (a refusal is
    // shown and the dialog stays open), then runs the tool; a tool failure
    // is shown by the dialog. On success the output is added as a layer on
    // top of the focused map (raising its item-added event). Returns that
    // layer, or nullptr when the tool was cancelled or failed. The last
    // argument (modeless) is accepted and ignored: the dialog is modal.
    LayerPtr invokeTool(intptr_t parentHwnd, GPTool& tool, const GPParameterArray* params, bool modeless);

private:
    Application& app_;
    std::vector<GPToolPtr> tools_;
};

class ToolboxExtension : public Extension {
public:
    explicit ToolboxExtension(Application& app);
    std::string name() const override { return "Toolbox"; }
    Toolbox& arcToolbox() { return toolbox_; }

private:
    Toolbox toolbox_;
};

// The host's tools (used by the extension; also for tests and benchmarks).
GPToolPtr makeDissolveTool();
GPToolPtr makeIntersectTool();

}  // namespace korvane::host
