// The Create Core Areas dialog as both libraries lay it out: a polygon
// layer, its ID field, an output shapefile, an edge width and two options.
// Each library's frmCores adds its own loading, OK and Batch.
#include "shared/CoreAreaForm.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modCoreAreas.h"
#include "shared/modMisc.h"

KV_MODULE("Forms/frmCores");

namespace kv {

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

// The number the user typed: the whole text, or a type mismatch.
double bufferSizeOf(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    if (text.empty() || end == begin || *end != '\0' || !std::isfinite(v))
        h::fail(h::err::TypeMismatch, "Korvane", "Type mismatch");
    return v;
}

}  // namespace

// ---- design ----------------------------------------------------------------------------

void CoreAreaForm::design() {
    setCaption("Create Core Areas");
    width = 6015;
    height = 4815;
    borderSizable = false;

    auto label = [&](const char* name, const char* caption, int32_t l, int32_t t, int32_t w) {
        auto& lbl = add<h::Label>(name);
        lbl.setCaption(caption);
        lbl.move(l, t, w, 255);
    };

    label("Label1", "Layers", 120, 120, 1455);
    auto& lst = add<h::ListBox>("lstLayers");
    lst.move(120, 360, 5655, 1620);

    label("Label2", "ID Field", 120, 2100, 1455);
    auto& cbo = add<h::ComboBox>("cboIdField");
    cbo.style = h::ComboStyle::DropDownList;
    cbo.move(120, 2340, 2775, 315);

    auto& detach = add<h::CheckBox>("chkDetach");
    detach.setCaption("Detach multiple cores");
    detach.move(3120, 2160, 2655, 255);
    detach.setValue(h::Checked);
    auto& addLayer = add<h::CheckBox>("chkAddLayer");
    addLayer.setCaption("Add layer to map");
    addLayer.move(3120, 2460, 2655, 255);
    addLayer.setValue(h::Checked);

    label("Label3", "Output File Name", 120, 2820, 1455);
    auto& file = add<h::TextBox>("txtFilenameOut");
    file.locked = true;   // chosen through the save dialog only
    file.move(120, 3060, 5655, 285);

    label("Label4", "Buffer Size", 120, 3480, 1455);
    auto& size = add<h::TextBox>("txtBufferSize");
    size.move(120, 3720, 1455, 285);

    auto button = [&](const char* name, const char* caption, int32_t l, bool enabled) -> h::CommandButton& {
        auto& b = add<h::CommandButton>(name);
        b.setCaption(caption);
        b.move(l, 4200, 1095, 375);
        b.setEnabled(enabled);
        return b;
    };
    auto& batch = button("cnmdBatch", "Batch", 2400, true);
    auto& cancel = button("cmdCancel", "Cancel", 3540, true);
    auto& ok = button("cmdOK", "OK", 4680, false);

    add<h::CommonDialog>("cmnDlg");

    int32_t tab = 0;
    for (const char* name : {"lstLayers", "cboIdField", "chkDetach", "txtFilenameOut", "txtBufferSize", "cmdCancel",
                             "cnmdBatch", "cmdOK", "chkAddLayer"})
        get<h::Control>(name).tabIndex = tab++;
    for (h::Control* c : controls())
        if (!c->focusable()) c->tabIndex = tab++;

    lst.onClick = [this] { lstLayers_Click(); };
    cbo.onChange = [this] { cboIdField_Change(); };
    cbo.onClick = [this] { cboIdField_Click(); };
    cbo.onValidate = [this](bool& cancel) { cboIdField_Validate(cancel); };
    size.onChange = [this] { txtBufferSize_Change(); };
    size.onKeyPress = [this](int& keyAscii) { txtBufferSize_KeyPress(keyAscii); };
    file.onClick = [this] { txtFilenameOut_Click(); };
    file.onGotFocus = [this] { txtFilenameOut_GotFocus(); };
    file.onLostFocus = [this] { txtFilenameOut_LostFocus(); };
    ok.onClick = [this] { cmdOK_Click(); };
    cancel.onClick = [this] { cmdCancel_Click(); };
    batch.onClick = [this] { cnmdBatch_Click(); };
}

// ---- properties -------------------------------------------------------------------------

h::MapPtr CoreAreaForm::Map() {
    h::MapPtr result;
    KV_PROCEDURE("Map", TopLevel).run([&] {
        KV_LINE;
        result = hookFocusMap();
    });
    return result;
}

void CoreAreaForm::ResetChoices() {
    layer_.reset();
    fileChosenOnFocus_ = false;
    get<h::TextBox>("txtBufferSize").setText("");
    get<h::TextBox>("txtFilenameOut").setText("");
    get<h::CommandButton>("cmdOK").setEnabled(false);
    get<h::ComboBox>("cboIdField").clear();
    get<h::TextBox>("txtFilenameOut").locked = true;
}

// ---- layer, ID field and the OK rule ------------------------------------------------------

void CoreAreaForm::lstLayers_Click() {
    KV_PROCEDURE("lstLayers_Click", TopLevel).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        if (lst.listIndex() < 0) return;   // the selection was cleared
        KV_LINE;
        layer_ = FindLayerByName(Map(), lst.text());
        KV_LINE;
        FillIdFields(layer_, get<h::ComboBox>("cboIdField"));
        // The ID field of another layer is gone: OK waits for a new choice.
        KV_LINE;
        CheckOKEnabled();
    });
}

void CoreAreaForm::CheckOKEnabled() {
    bool ready = !get<h::TextBox>("txtBufferSize").text().empty() &&
                 !get<h::TextBox>("txtFilenameOut").text().empty() && get<h::ComboBox>("cboIdField").listIndex() >= 0;
    get<h::CommandButton>("cmdOK").setEnabled(ready);
}

// The events that re-evaluate the OK rule, each under its own name.
void CoreAreaForm::OKRuleEvent(const char* procedure) {
    ::kv::Procedure kvProc_(procedure, kvModulePath_, TopLevel);
    kvProc_.run([&] {
        KV_LINE;
        CheckOKEnabled();
    });
}

void CoreAreaForm::cboIdField_Change() { OKRuleEvent("cboIdField_Change"); }
void CoreAreaForm::cboIdField_Click() { OKRuleEvent("cboIdField_Click"); }
void CoreAreaForm::cboIdField_Validate(bool& /*cancel: the rule never keeps the focus*/) {
    OKRuleEvent("cboIdField_Validate");
}
void CoreAreaForm::txtBufferSize_Change() { OKRuleEvent("txtBufferSize_Change"); }

void CoreAreaForm::txtBufferSize_KeyPress(int& keyAscii) {
    KV_PROCEDURE("txtBufferSize_KeyPress", TopLevel).run([&] {
        KV_LINE;
        bool keep = (keyAscii >= '0' && keyAscii <= '9') || keyAscii == '.' || keyAscii == 13 || keyAscii == 8;
        if (!keep) keyAscii = 0;
    });
}

// ---- output file ---------------------------------------------------------------------------

void CoreAreaForm::GetOutputFile() {
    KV_PROCEDURE("GetOutputFile", Inner).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.flags = h::CommonDialog::OverwritePrompt;
        dlg.filter = "Shapefiles(*.shp)|*.shp";
        dlg.defaultExt.clear();
        std::string before = dlg.fileName;
        KV_LINE;
        if (!dlg.showSave()) return;   // Cancel keeps the name held before
        // A name typed relative to the current folder is held as the full
        // path, so that a batch line replayed elsewhere means the same file.
        KV_LINE;
        if (!dlg.fileName.empty() && dlg.fileName.front() != '/')
            dlg.fileName = sfs::absolute(dlg.fileName).lexically_normal().string();
        // The overwrite question of the save dialog, asked here because the
        // host's file chooser hands back any name.
        KV_LINE;
        if (!MayReplace(dlg.fileName)) dlg.fileName = before;
    });
}

void CoreAreaForm::txtFilenameOut_Click() {
    KV_PROCEDURE("txtFilenameOut_Click", TopLevel).run([&] {
        // The click that moved the focus here has been answered by the
        // dialog that the focus opened: one click, one dialog.
        if (fileChosenOnFocus_) {
            fileChosenOnFocus_ = false;
            return;
        }
        KV_LINE;
        GetOutputFile();
        KV_LINE;
        get<h::TextBox>("txtFilenameOut").setText(get<h::CommonDialog>("cmnDlg").fileName);
    });
}

void CoreAreaForm::txtFilenameOut_GotFocus() {
    KV_PROCEDURE("txtFilenameOut_GotFocus", TopLevel).run([&] {
        KV_LINE;
        fileChosenOnFocus_ = true;
        KV_LINE;
        GetOutputFile();
        KV_LINE;
        get<h::TextBox>("txtFilenameOut").setText(get<h::CommonDialog>("cmnDlg").fileName);
    });
}

void CoreAreaForm::txtFilenameOut_LostFocus() { fileChosenOnFocus_ = false; }

// ---- the run's arguments and Cancel ---------------------------------------------------------

CoreAreaRequest CoreAreaForm::request() {
    if (get<h::TextBox>("txtFilenameOut").text().empty())
        h::fail(h::err::InvalidCall, "Korvane", "No output file has been chosen.");
    CoreAreaRequest r;
    ShapefileTarget target = SplitShapefilePath(get<h::CommonDialog>("cmnDlg").fileName);
    r.folderName = target.folderName;
    r.shapefileName = target.shapefileName;
    r.strLayerName = get<h::ListBox>("lstLayers").text();
    r.strIDFieldName = get<h::ComboBox>("cboIdField").text();
    r.strBufferSize = bufferSizeOf(get<h::TextBox>("txtBufferSize").text());
    r.blnExplode = get<h::CheckBox>("chkDetach").checked();
    r.blnAddToMap = get<h::CheckBox>("chkAddLayer").checked();
    return r;
}

std::optional<CoreAreaForm::CoreStart> CoreAreaForm::StartCores(Procedure& kvProc_, const h::MapPtr& map,
                                                               const std::string& folderName,
                                                               const std::string& shapefileName,
                                                               const std::string& strLayerName,
                                                               const std::string& strIDFieldName,
                                                               const std::string& notCreated) {
    std::optional<CoreSource> source =
        CheckCoreRequest(kvProc_, map, folderName, shapefileName, strLayerName, strIDFieldName);
    if (!source) return std::nullopt;
    KV_LINE;
    const auto& sr = source->featureClass->spatialReference();
    h::FeatureClassPtr cores = CreateCoreShapefile(folderName, shapefileName, source->idField, sr ? &*sr : nullptr);
    if (!cores) {
        MsgBox(notCreated, h::mb::Critical, "Shapefile not created");
        return std::nullopt;
    }
    return CoreStart{std::move(*source), std::move(cores)};
}

void CoreAreaForm::RunChosen(Procedure& kvProc_) {
    KV_LINE;
    WaitCursor wait;
    KV_LINE;
    CoreAreaRequest r = request();
    KV_LINE;
    CreateCores(r.folderName, r.shapefileName, r.strLayerName, r.strIDFieldName, r.strBufferSize, r.blnExplode,
                r.blnAddToMap);
}

void CoreAreaForm::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

// ---- the output class ----------------------------------------------------------------------

h::FeatureClassPtr CoreAreaForm::CreateCoreShapefile(const std::string& folderName, const std::string& shapefileName,
                                                 const h::FieldDef& idField, const h::SpatialReference* sr) {
    // Failures are passed on to the caller as they are, without a report of
    // this procedure's own: the caller shows them in its message.
    pendingCores_.reset();
    std::optional<PendingCores> pending = MakeCoreShapefile(folderName, shapefileName, idField, sr);
    if (!pending) return nullptr;
    pendingCores_ = std::move(pending->replacement);
    return pending->featureClass;
}

h::FeatureClassPtr CoreAreaForm::PlaceCoreShapefile() {
    if (!pendingCores_) h::failObjectNotSet();
    std::unique_ptr<h::DatasetReplacement> pending = std::move(pendingCores_);
    return std::dynamic_pointer_cast<h::FeatureClass>(pending->commit());
}

}  // namespace kv
