#include "host/toolbox/Toolbox.h"

#include <algorithm>
#include <exception>
#include <new>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/toolbox/ToolSupport.h"

namespace korvane::host {

namespace {
constexpr const char* kSource = "Toolbox";
}

// ---- parameters -------------------------------------------------------------

GPValue GPDataType::createValue(const std::string& text) const {
    if (kind_ != GPDataKind::Boolean && kind_ != GPDataKind::Keyword) return GPValue(text);
    for (const std::string& k : keywords_)
        if (tools::upper(k) == tools::upper(text)) return GPValue(k);
    std::string choices;
    for (const std::string& k : keywords_) choices += (choices.empty() ? "" : ", ") + k;
    fail(err::HostInvalidArg, kSource, "\"" + text + "\" is not a value of " + name_ + " (" + choices + ").");
}

GPParameter& GPParameterArray::element(int32_t index) {
    if (index < 0 || index >= count()) fail(err::HostInvalidArg, kSource, "The parameter index is out of range.");
    return params_[static_cast<size_t>(index)];
}
const GPParameter& GPParameterArray::element(int32_t index) const {
    return const_cast<GPParameterArray*>(this)->element(index);
}
GPParameter& GPParameterArray::named(const std::string& name) {
    for (auto& p : params_)
        if (p.name() == name) return p;
    fail(err::HostInvalidArg, kSource, "There is no parameter " + name + ".");
}
const GPParameter& GPParameterArray::named(const std::string& name) const {
    return const_cast<GPParameterArray*>(this)->named(name);
}

// ---- the tool dialog ---------------------------------------------------------

namespace {

// One control per parameter, named after it, with its display name in a
// label above; OK checks and runs, Cancel closes. While the tool runs the
// status label and the progress bar tell how far it is.
class ToolDialog : public Form {
public:
    ToolDialog(GPTool& tool, GPParameterArray params, MapPtr map)
        : Form(tool.name()), tool_(tool), params_(std::move(params)), map_(std::move(map)) {}

    // The shapefile written, or "" when the tool did not run to its end.
    const std::string& output() const { return output_; }

protected:
    void design() override {
        setCaption(tool_.displayName());
        const int32_t left = 120, width = 5400;   // twips
        int32_t top = 120;
        for (int32_t i = 0; i < params_.count(); ++i) {
            const GPParameter& p = params_.element(i);
            const GPDataKind kind = p.dataType().kind();
            if (kind != GPDataKind::Boolean) {
                auto& label = add<Label>("lbl_" + p.name());
                label.setCaption(p.displayName());
                label.move(left, top, width, 255);
                top += 285;
            }
            Control* c = nullptr;
            int32_t height = 315;
            switch (kind) {
                case GPDataKind::FeatureLayer:
                case GPDataKind::Keyword: {
                    auto& combo = add<ComboBox>(p.name());
                    combo.style = kind == GPDataKind::Keyword ? ComboStyle::DropDownList : ComboStyle::DropDownCombo;
                    c = &combo;
                    break;
                }
                case GPDataKind::MultiFeatureLayer:
                case GPDataKind::FieldList: {
                    auto& list = add<ListBox>(p.name());
                    list.multiSelect = MultiSelect::Simple;
                    height = 1215;
                    c = &list;
                    break;
                }
                case GPDataKind::Boolean: {
                    auto& check = add<CheckBox>(p.name());
                    check.setCaption(p.displayName());
                    c = &check;
                    break;
                }
                default: c = &add<TextBox>(p.name()); break;
            }
            c->move(left, top, width, height);
            top += height + 120;
        }
        auto& status = add<Label>("lblStatus");
        status.move(left, top, width, 255);
        auto& bar = add<ProgressBar>("progBar");
        bar.move(left, top + 285, width, 255);
        bar.setMax(100);
        top += 660;
        auto& ok = add<CommandButton>("cmdOK");
        ok.setCaption("OK");
        ok.isDefault = true;
        ok.move(left + width - 2400, top, 1095, 375);
        ok.onClick = [this] { cmdOK_Click(); };
        auto& cancel = add<CommandButton>("cmdCancel");
        cancel.setCaption("Cancel");
        cancel.isCancel = true;
        cancel.move(left + width - 1095, top, 1095, 375);
        cancel.onClick = [this] { hide(); };
        this->width = left + width + 240;
        this->height = top + 375 + 600;
    }

    void Form_Load() override {
        std::vector<std::string> layers;
        if (map_)
            for (const LayerPtr& l : map_->layers())
                if (l->kind() == LayerKind::Feature) layers.push_back(l->name());
        for (int32_t i = 0; i < params_.count(); ++i) {
            const GPParameter& p = params_.element(i);
            const std::string& v = p.value().text();
            switch (p.dataType().kind()) {
                case GPDataKind::FeatureLayer: {
                    auto& combo = get<ComboBox>(p.name());
                    for (const std::string& l : layers) combo.addItem(l);
                    combo.setText(v);
                    combo.onClick = combo.onChange = [this, name = p.name()] { inputChanged(name); };
                    break;
                }
                case GPDataKind::MultiFeatureLayer: {
                    auto& list = get<ListBox>(p.name());
                    for (const std::string& l : layers) list.addItem(l);
                    for (const std::string& item : tools::splitList(v)) {
                        int32_t at = list.find(item);
                        if (at >= 0) list.setSelected(at, true);
                    }
                    chosenOrder_ = tools::splitList(v);
                    list.onClick = [this, &list] { trackOrder(list); };
                    break;
                }
                case GPDataKind::Keyword: {
                    auto& combo = get<ComboBox>(p.name());
                    for (const std::string& k : p.dataType().keywords()) combo.addItem(k);
                    combo.setText(v);
                    break;
                }
                case GPDataKind::Boolean:
                    get<CheckBox>(p.name()).setValue(!p.dataType().keywords().empty() &&
                                                     v == p.dataType().keywords()[0] ? Checked : Unchecked);
                    break;
                case GPDataKind::FieldList: break;   // filled from its input below
                default: get<TextBox>(p.name()).setText(v); break;
            }
        }
        for (int32_t i = 0; i < params_.count(); ++i) {
            const GPParameter& p = params_.element(i);
            if (p.dataType().kind() == GPDataKind::FieldList) fillFields(p, tools::splitList(p.value().text()));
        }
    }

private:
    // The selected entries of a multi-select input list in the order the
    // user chose them.
    void trackOrder(ListBox& list) {
        std::erase_if(chosenOrder_, [&](const std::string& s) {
            int32_t at = list.find(s);
            return at < 0 || !list.selected(at);
        });
        for (int32_t i = 0; i < list.listCount(); ++i)
            if (list.selected(i) && std::find(chosenOrder_.begin(), chosenOrder_.end(), list.list(i)) == chosenOrder_.end())
                chosenOrder_.push_back(list.list(i));
    }

    void inputChanged(const std::string& input) {
        for (int32_t i = 0; i < params_.count(); ++i) {
            const GPParameter& p = params_.element(i);
            if (p.dataType().kind() == GPDataKind::FieldList && p.dependency() == input) fillFields(p, {});
        }
    }

    // Lists the attribute fields of the field list's input (none while the
    // input names nothing readable), selecting the given ones.
    void fillFields(const GPParameter& p, const std::vector<std::string>& selected) {
        auto& list = get<ListBox>(p.name());
        list.clear();
        auto* input = dynamic_cast<ComboBox*>(find(p.dependency()));
        if (!input) return;
        std::string ignored;
        ToolContext ctx{map_, {}};
        auto in = tools::resolveInput(p.dependency(), input->text(), ctx, ignored);
        if (!in) return;
        const Fields& fields = in->fc->fields();
        for (int32_t i = 0; i < fields.count(); ++i) {
            const FieldDef& f = fields.field(i);
            if (f.type == FieldOID || f.type == FieldGeometry) continue;
            list.addItem(f.name);
            for (const std::string& s : selected)
                if (sameFieldName(s, f.name)) list.setSelected(list.listCount() - 1, true);
        }
    }

    std::string controlValue(const GPParameter& p) {
        switch (p.dataType().kind()) {
            case GPDataKind::FeatureLayer:
            case GPDataKind::Keyword: return get<ComboBox>(p.name()).text();
            case GPDataKind::MultiFeatureLayer: {
                std::string v;
                for (const std::string& s : chosenOrder_) v += (v.empty() ? "" : ";") + s;
                return v;
            }
            case GPDataKind::FieldList: {
                auto& list = get<ListBox>(p.name());
                std::string v;
                for (int32_t i = 0; i < list.listCount(); ++i)
                    if (list.selected(i)) v += (v.empty() ? "" : ";") + list.list(i);
                return v;
            }
            case GPDataKind::Boolean: {
                const auto& k = p.dataType().keywords();
                return get<CheckBox>(p.name()).checked() ? k.at(0) : k.at(1);
            }
            default: return get<TextBox>(p.name()).text();
        }
    }

    void cmdOK_Click() {
        const std::string title = tool_.displayName();
        for (int32_t i = 0; i < params_.count(); ++i) {
            GPParameter& p = params_.element(i);
            std::string text = controlValue(p);
            if (p.required() && tools::splitList(text).empty()) {
                MsgBox(p.displayName() + ": a value is required.", mb::Exclamation, title);
                return;
            }
            p.setValue(p.dataType().createValue(text));
        }
        auto& status = get<Label>("lblStatus");
        auto& bar = get<ProgressBar>("progBar");
        ToolContext ctx{map_, [&](const std::string& s, double done) {
                            if (s != status.caption()) status.setCaption(s);
                            float v = static_cast<float>(std::clamp(done, 0.0, 1.0) * 100.0);
                            if (v != bar.value()) bar.setValue(v);
                        }};
        std::string refusal;
        try {
            refusal = tool_.validate(params_, ctx);
        } catch (const Failure& f) {
            refusal = f.description();
        }
        if (!refusal.empty()) {
            MsgBox(refusal, mb::Exclamation, title);
            return;
        }
        std::string failure;
        try {
            ctx.report("Executing (" + title + ")...", 0);
            output_ = tool_.execute(params_, ctx);
            ctx.report(status.caption(), 1);
        } catch (const Failure& f) {
            failure = f.description();
        } catch (const std::bad_alloc&) {
            failure = "Out of memory.";
        } catch (const std::exception& e) {
            failure = e.what();
        }
        if (!failure.empty()) {
            output_.clear();
            MsgBox("Failed to execute (" + title + ").\r\n" + failure, mb::Critical, title);
        }
        hide();
    }

    GPTool& tool_;
    GPParameterArray params_;
    MapPtr map_;
    std::vector<std::string> chosenOrder_;
    std::string output_;
};

}  // namespace

// ---- toolbox ----------------------------------------------------------------

Toolbox::Toolbox(Application& app) : app_(app) {}

void Toolbox::addTool(GPToolPtr tool) { tools_.push_back(std::move(tool)); }

GPToolPtr Toolbox::getToolByNameString(const std::string& name) const {
    for (const GPToolPtr& t : tools_)
        if (t->name() == name) return t;
    return nullptr;
}

LayerPtr Toolbox::invokeTool(intptr_t parentHwnd, GPTool& tool, const GPParameterArray* params, bool /*modeless*/) {
    MapPtr map = app_.document()->focusMap();
    ToolDialog dialog(tool, params ? *params : tool.parameterInfo(), map);
    if (parentHwnd) dialog.setOwner(parentHwnd);
    dialog.show(true);
    std::string output = dialog.output();
    dialog.unload();
    if (output.empty()) return nullptr;
    FeatureLayerPtr layer;
    try {
        layer = openFeatureLayer(output);
    } catch (const Failure& f) {
        MsgBox("Cannot add " + output + " to the map.\r\n" + f.description(), mb::Critical, tool.displayName());
        return nullptr;
    }
    map->addLayer(layer);
    return layer;
}

ToolboxExtension::ToolboxExtension(Application& app) : toolbox_(app) {
    toolbox_.addTool(makeDissolveTool());
    toolbox_.addTool(makeIntersectTool());
}

namespace {
const bool kRegistered = [] {
    registerExtensionClass(kToolboxExtensionId,
                           [](Application& app) { return std::make_shared<ToolboxExtension>(app); });
    return true;
}();
}  // namespace

}  // namespace korvane::host
