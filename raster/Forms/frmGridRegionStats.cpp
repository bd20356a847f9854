// The Regions Statistics dialog (frmGridRegionStats): layout, the layer and
// field lists, the output table, the parameter dialog, the OK checks and the
// cross-tabulations. The run itself is in frmGridRegionStatsRun.cpp.
#include "raster/Forms/frmGridRegionStats.h"

#include <filesystem>

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"
#include "raster/Forms/frmAnalParams.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modRunFragStats.h"
#include "raster/Modules/UtilModule.h"
#include "raster/Modules/modMisc.h"
#include "raster/Modules/modRegionStats.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

KV_MODULE("Forms/frmGridRegionStats");

namespace kv {

namespace h = korvane::host;

std::string RegionStatsToRun(bool landscape, bool cwed, bool mpi, bool mnn, bool iji) {
    std::string s;
    if (cwed) s += "CWED, ";
    if (mpi) s += "MPI, ";
    if (mnn) s += "MNN, ";
    if (iji) s += "IJI, ";
    if (!landscape)
        s += "CA, TLA, NumP, MPS, PSCoV, PSSD, TE, ED, MSI, AWMSI, MPFD, AWMPFD, TCA, CAD, MCA, CASD, CACoV, TCAI, "
             "CACV1, CASD1, %LAND, C%LAND, DLFD, LPI, LSI, MCAI, MCA1, NCA";
    else
        s += "CA, TLA, NumP, MPS, PSCoV, PSSD, TE, ED, MSI, AWMSI, MPFD, AWMPFD, SDI, SEI, TCA, CAD, MCA, CASD, "
             "CACoV, TCAI, CACV1, CASD1, %LAND, C%LAND, DLFD, LPI, LSI, MCAI, MCA1, NCA, MSIDI, PR, PRD, SHEI, "
             "SIEI, MSIEI";
    return s;
}

frmGridRegionStats::frmGridRegionStats() : KorvaneForm("frmGridRegionStats") {}
frmGridRegionStats::~frmGridRegionStats() = default;

void frmGridRegionStats::design() {
    setCaption("Regions Statistics");
    width = 7800;
    height = 8400;
    auto frame = [&](const char* name, const char* caption, h::Frame* in, int32_t l, int32_t t, int32_t w,
                     int32_t ht) -> h::Frame& {
        auto& f = add<h::Frame>(name);
        f.setContainer(in);
        f.setCaption(caption);
        f.move(l, t, w, ht);
        return f;
    };
    auto label = [&](const char* name, const char* caption, h::Frame* in, int32_t l, int32_t t) {
        auto& lbl = add<h::Label>(name);
        lbl.setContainer(in);
        lbl.setCaption(caption);
        lbl.move(l, t, 1800, 255);
    };
    auto combo = [&](const char* name, h::Frame* in, int32_t t) -> h::ComboBox& {
        auto& c = add<h::ComboBox>(name);
        c.setContainer(in);
        c.style = h::ComboStyle::DropDownList;
        c.move(2040, t, 5280, 315);
        return c;
    };
    auto check = [&](const char* name, const char* caption, h::Frame* in, int32_t l, int32_t t) -> h::CheckBox& {
        auto& c = add<h::CheckBox>(name);
        c.setContainer(in);
        c.setCaption(caption);
        c.move(l, t, 1800, 255);
        return c;
    };

    auto& fraLayers = frame("fraLayers", "Landscape layers", nullptr, 120, 120, 7515, 1695);
    label("lblClassLayer", "Class Layer", &fraLayers, 120, 240);
    auto& cboClassLayer = combo("cboClassLayer", &fraLayers, 240);
    label("lblClass", "Class", &fraLayers, 120, 600);
    combo("cboClass", &fraLayers, 600);
    label("lblRegionLayer", "Regions Layer", &fraLayers, 120, 960);
    auto& cboRegionLayer = combo("cboRegionLayer", &fraLayers, 960);
    label("lblRegion", "Region", &fraLayers, 120, 1320);
    combo("cboRegion", &fraLayers, 1320);

    auto& fraResponse = frame("fraResponse", "Response layer", nullptr, 120, 1920, 7515, 975);
    auto& chkCapture = check("chkCaptureResponseLayer", "Capture Response Layer", &fraResponse, 120, 240);
    chkCapture.move(120, 240, 3000, 255);
    label("lblResponseLayer", "Response Layer", &fraResponse, 120, 600);
    combo("cboResponseLayer", &fraResponse, 600);

    auto& fraOptions = frame("fraOptions", "Options", nullptr, 120, 3000, 7515, 1215);
    auto& fraLevel = frame("fraLevel", "Analysis level", &fraOptions, 120, 240, 3000, 855);
    check("chkLandscape", "Landscape", &fraLevel, 120, 240);
    auto& chkClass = check("chkClass", "Class", &fraLevel, 120, 540);
    chkClass.setValue(h::Checked);
    chkClass.setEnabled(false);
    auto& fraAnalysis = frame("fraAnalysisOptions", "Analysis options", &fraOptions, 3240, 240, 4155, 855);
    check("chkMPI", "MPI", &fraAnalysis, 120, 240).move(120, 240, 900, 255);
    check("chkMNN", "MNN", &fraAnalysis, 120, 240).move(1080, 240, 900, 255);
    check("chkIJI", "IJI", &fraAnalysis, 120, 240).move(2040, 240, 900, 255);
    check("chkCWED", "CWED", &fraAnalysis, 120, 240).move(3000, 240, 900, 255);

    auto& fraOutput = frame("fraOutput", "Output", nullptr, 120, 4320, 7515, 735);
    label("lblTableName", "Table Name", &fraOutput, 120, 300);
    auto& txt = add<h::TextBox>("txtTableName");
    txt.setContainer(&fraOutput);
    txt.move(1320, 300, 3960, 285);
    auto& optAppend = add<h::OptionButton>("optAppend");
    optAppend.setContainer(&fraOutput);
    optAppend.setCaption("Append");
    optAppend.move(5400, 180, 1215, 255);
    optAppend.setValue(true);
    optAppend.setEnabled(false);
    auto& optOverwrite = add<h::OptionButton>("optOverwrite");
    optOverwrite.setContainer(&fraOutput);
    optOverwrite.setCaption("Overwrite");
    optOverwrite.move(5400, 420, 1215, 255);
    optOverwrite.setEnabled(false);

    auto& fraParams = frame("fraParams", "Analysis Parameters", nullptr, 120, 5160, 7515, 1335);
    struct Param {
        const char *label, *caption, *box;
        int32_t left, top;
    } params[] = {
        {"lblMPI", "MPI Threshold:", "txtMPI", 120, 240},
        {"lblCWEDFilename", "CWED file name:", "txtCWEDFilename", 3720, 240},
        {"lblBoundaryInfl", "Boundary Influence:", "txtBoundaryInfl", 120, 600},
        {"lblBufferDistance", "Buffer Distance:", "txtBufferDistance", 3720, 600},
    };
    for (const Param& p : params) {
        label(p.label, p.caption, &fraParams, p.left, p.top);
        auto& box = add<h::TextBox>(p.box);
        box.setContainer(&fraParams);
        box.locked = true;   // set through the parameter dialog
        box.move(p.left + 1560, p.top, 1800, 285);
    }
    auto& cmdParams = add<h::CommandButton>("cmdParams");
    cmdParams.setContainer(&fraParams);
    cmdParams.setCaption("Set Analysis Parameters");
    cmdParams.move(120, 960, 2415, 315);

    auto& fraStatus = frame("fraStatus", "Process Status", nullptr, 120, 6600, 7515, 855);
    auto& lbl1 = add<h::Label>("lblStatus1");
    lbl1.setContainer(&fraStatus);
    lbl1.setCaption("Waiting");
    lbl1.move(120, 240, 7200, 255);
    auto& lbl2 = add<h::Label>("lblStatus2");
    lbl2.setContainer(&fraStatus);
    lbl2.move(120, 540, 7200, 255);

    auto& chkVerbose = add<h::CheckBox>("chkVerbose");
    chkVerbose.setCaption("Verbose Error Tracking");
    chkVerbose.move(120, 7560, 2500, 255);
    auto& cmdCancel = add<h::CommandButton>("cmdCancel");
    cmdCancel.setCaption("Cancel");
    cmdCancel.isCancel = true;
    cmdCancel.move(5040, 7560, 1215, 375);
    auto& cmdOk = add<h::CommandButton>("cmdOk");
    cmdOk.setCaption("OK");
    cmdOk.move(6360, 7560, 1215, 375);
    add<h::CommonDialog>("cmnDlg");

    cboClassLayer.onClick = [this] { cboClassLayer_Click(); };
    cboClassLayer.onChange = [this] { cboClassLayer_Click(); };
    cboRegionLayer.onClick = [this] { cboRegionLayer_Click(); };
    cboRegionLayer.onChange = [this] { cboRegionLayer_Click(); };
    chkCapture.onClick = [this] { chkCaptureResponseLayer_Click(); };
    txt.onClick = [this] { txtTableName_Click(); };
    optOverwrite.onClick = [this] { optOverwrite_Click(); };
    cmdParams.onClick = [this] { cmdParams_Click(); };
    cmdOk.onClick = [this] { cmdOK_Click(); };
    cmdCancel.onClick = [this] { cmdCancel_Click(); };
}

h::MapPtr frmGridRegionStats::Map() {
    h::MapPtr result;
    KV_PROCEDURE("Map", TopLevel).run([&] {
        KV_LINE;
        result = hookFocusMap();
    });
    return result;
}

void frmGridRegionStats::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        auto& cboRegionLayer = get<h::ComboBox>("cboRegionLayer");
        PopulateFeatureLayersList(cboRegionLayer);
        get<h::ComboBox>("cboRegion").clear();
        if (cboRegionLayer.listCount() == 1) cboRegionLayer.setListIndex(0);
        KV_LINE;
        auto& cboClassLayer = get<h::ComboBox>("cboClassLayer");
        PopulateRasterLayersList(cboClassLayer);
        get<h::ComboBox>("cboClass").clear();
        if (cboClassLayer.listCount() == 1) cboClassLayer.setListIndex(0);
        KV_LINE;
        auto& cboResponse = get<h::ComboBox>("cboResponseLayer");
        PopulateRasterLayersList(cboResponse);
        cboResponse.setEnabled(get<h::CheckBox>("chkCaptureResponseLayer").checked());
        const bool named = !get<h::TextBox>("txtTableName").text().empty();
        get<h::OptionButton>("optAppend").setEnabled(named);
        get<h::OptionButton>("optOverwrite").setEnabled(named);
    });
}

void frmGridRegionStats::Form_Unload(int& cancel) {
    KV_PROCEDURE("Form_Unload", TopLevel).run([&] {
        KV_LINE;
        // The parameter dialog goes with this one.
        if (params_ && params_->loaded()) params_->unloadWithOwner();
    });
}

void frmGridRegionStats::copyParameters() {
    if (!params_) return;
    for (const char* box : {"txtMPI", "txtBufferDistance", "txtBoundaryInfl", "txtCWEDFilename"})
        get<h::TextBox>(box).setText(params_->get<h::TextBox>(box).text());
}

void frmGridRegionStats::PopulateFeatureLayersList(h::ComboBox& cboTarget) {
    KV_PROCEDURE("PopulateFeatureLayersList", TopLevel).run([&] {
        KV_LINE;
        cboTarget.clear();
        h::MapPtr map = Map();
        if (!map) return;
        for (const h::LayerPtr& layer : map->layers())
            if (std::dynamic_pointer_cast<h::FeatureLayer>(layer)) cboTarget.addItem(layer->name());
        KV_LINE;
        if (!params_) params_ = std::make_unique<frmAnalParams>();
        params_->load();
        copyParameters();
        get<h::ComboBox>("cboRegion").clear();
    });
}

void frmGridRegionStats::PopulateRasterLayersList(h::ComboBox& cboTarget) {
    KV_PROCEDURE("PopulateRasterLayersList", TopLevel).run([&] {
        KV_LINE;
        cboTarget.clear();
        h::MapPtr map = Map();
        if (!map) return;
        for (const h::LayerPtr& layer : map->layers())
            if (IsUsableIntegerGrid(layer)) cboTarget.addItem(layer->name());
    });
}

void frmGridRegionStats::cboClassLayer_Click() {
    KV_PROCEDURE("cboClassLayer_Click", TopLevel).run([&] {
        KV_LINE;
        auto& cbo = get<h::ComboBox>("cboClassLayer");
        if (cbo.listIndex() < 0) return;
        PopulateFieldListBox(FindLayerByName(Map(), cbo.text()), get<h::ComboBox>("cboClass"));
    });
}

void frmGridRegionStats::cboRegionLayer_Click() {
    KV_PROCEDURE("cboRegionLayer_Click", TopLevel).run([&] {
        KV_LINE;
        auto& cbo = get<h::ComboBox>("cboRegionLayer");
        if (cbo.listIndex() < 0) return;
        PopulateFieldListBox(FindLayerByName(Map(), cbo.text()), get<h::ComboBox>("cboRegion"));
    });
}

void frmGridRegionStats::chkCaptureResponseLayer_Click() {
    KV_PROCEDURE("chkCaptureResponseLayer_Click", TopLevel).run([&] {
        KV_LINE;
        get<h::ComboBox>("cboResponseLayer").setEnabled(get<h::CheckBox>("chkCaptureResponseLayer").checked());
    });
}

void frmGridRegionStats::GetSaveLocation() {
    KV_PROCEDURE("GetSaveLocation", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.filter = "DBase IV(*.dbf)|*.dbf";
        dlg.defaultExt.clear();
        dlg.showSave();   // Cancel keeps the name the dialog held
        if (!dlg.fileName.empty() && dlg.fileName.front() != '/')
            dlg.fileName = std::filesystem::absolute(dlg.fileName).lexically_normal().string();
        get<h::TextBox>("txtTableName").setText(dlg.fileName);
    });
}

void frmGridRegionStats::txtTableName_Click() {
    KV_PROCEDURE("txtTableName_Click", TopLevel).run([&] {
        KV_LINE;
        GetSaveLocation();
        auto& txt = get<h::TextBox>("txtTableName");
        txt.setText(get<h::CommonDialog>("cmnDlg").fileName);
        const bool exists = !txt.text().empty() && h::fs::FileExists(txt.text());
        KV_LINE;
        get<h::OptionButton>("optAppend").setValue(exists);
        get<h::OptionButton>("optOverwrite").setValue(!exists);
        get<h::OptionButton>("optAppend").setEnabled(exists);
        get<h::OptionButton>("optOverwrite").setEnabled(exists);
    });
}

void frmGridRegionStats::optOverwrite_Click() {
    KV_PROCEDURE("optOverwrite_Click", TopLevel).run([&] {
        KV_LINE;
        if (!get<h::OptionButton>("optOverwrite").value()) return;
        const std::string& table = get<h::TextBox>("txtTableName").text();
        if (table.empty() || !h::fs::FileExists(table)) return;
        KV_LINE;
        if (MsgBox("Are you sure you want to overwrite all the data in this file?", h::mb::YesNo | h::mb::Exclamation,
                   "Confirm Overwrite") == h::mb::No)
            get<h::OptionButton>("optAppend").setValue(true);
    });
}

void frmGridRegionStats::cmdParams_Click() {
    KV_PROCEDURE("cmdParams_Click", TopLevel).run([&] {
        KV_LINE;
        if (!params_) h::failObjectNotSet(KV_PROJECT_NAME);
        h::SetWindowLongA(params_->hWnd(), h::GWL_HWNDPARENT, hWnd());
        KV_LINE;
        ShowForm(*params_, true);
        copyParameters();
    });
}

void frmGridRegionStats::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        struct Need {
            const char* control;
            const char* message;
        } needs[] = {
            {"cboClassLayer", "A class layer needs to be chosen first"},
            {"cboClass", "A class field needs to be chosen first"},
            {"cboRegionLayer", "A region layer needs to be chosen first"},
            {"cboRegion", "A region needs to be chosen first"},
        };
        for (const Need& n : needs)
            if (get<h::ComboBox>(n.control).text().empty()) {
                MsgBox(n.message, h::mb::OKOnly, "Missing Information");
                return;
            }
        if (get<h::TextBox>("txtTableName").text().empty()) {
            MsgBox("A table needs to be selected first", h::mb::OKOnly, "Missing Information");
            return;
        }
        if (get<h::CheckBox>("chkCaptureResponseLayer").checked() &&
            get<h::ComboBox>("cboResponseLayer").text().empty()) {
            MsgBox("A response layer needs to be selected to continue", h::mb::OKOnly, "Missing Information");
            return;
        }
        KV_LINE;
        const bool landscape = get<h::CheckBox>("chkLandscape").checked();
        const bool cls = get<h::CheckBox>("chkClass").checked();
        const std::string level = std::string(landscape ? "L" : "") + (cls ? "C" : "");
        const std::string stats =
            RegionStatsToRun(!(cls && !landscape), get<h::CheckBox>("chkCWED").checked(),
                             get<h::CheckBox>("chkMPI").checked(), get<h::CheckBox>("chkMNN").checked(),
                             get<h::CheckBox>("chkIJI").checked());
        get<h::Label>("lblStatus1").setCaption("Running Grid Region Statistics");
        KV_LINE;
        RunGridRegionStats(get<h::ComboBox>("cboClassLayer").text(), get<h::ComboBox>("cboClass").text(),
                           get<h::ComboBox>("cboRegionLayer").text(), get<h::ComboBox>("cboRegion").text(), level,
                           cls, stats, get<h::TextBox>("txtTableName").text(),
                           get<h::OptionButton>("optAppend").value(),
                           get<h::CheckBox>("chkVerbose").checked() ? "True" : "False");
    });
}

void frmGridRegionStats::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

void frmGridRegionStats::status(const std::string& one, const std::optional<std::string>& two) {
    get<h::Label>("lblStatus1").setCaption(one);
    if (two) get<h::Label>("lblStatus2").setCaption(*two);
    refresh();
}

// ---- cross-tabulations --------------------------------------------------------------------

std::string frmGridRegionStats::crossTabFolder() {
    const std::string& table = get<h::TextBox>("txtTableName").text();
    if (table.empty()) return h::fs::GetTempFolder();
    return std::filesystem::absolute(table).parent_path().string();
}

h::TablePtr frmGridRegionStats::CrossTab(const h::TablePtr& inTable, const std::string& ClassName1,
                                         const std::string& ClassName2, const std::set<int32_t>& runs,
                                         int32_t* runOut) {
    h::TablePtr result;
    KV_PROCEDURE("CrossTab", TopLevel).run([&] {
        KV_LINE;
        if (!inTable) h::failObjectNotSet(KV_PROJECT_NAME);
        result = BuildCrossTab(crossTabFolder(), "SStatsByRgns--HistogramTable", *inTable, ClassName1, ClassName2,
                               "", runs, runOut);
    });
    return result;
}

h::TablePtr frmGridRegionStats::CrossTabArea(const h::TablePtr& inTable, const std::string& ClassName1,
                                             const std::string& ClassName2, const std::string& strSumFieldName,
                                             const std::string& strTableName, const std::set<int32_t>& runs,
                                             int32_t* runOut) {
    h::TablePtr result;
    KV_PROCEDURE("CrossTabArea", TopLevel).run([&] {
        KV_LINE;
        if (!inTable) h::failObjectNotSet(KV_PROJECT_NAME);
        result = BuildCrossTab(crossTabFolder(), strTableName, *inTable, ClassName1, ClassName2, strSumFieldName,
                               runs, runOut);
    });
    return result;
}

void frmGridRegionStats::Add_Table_TOC(const h::TablePtr& table) {
    KV_PROCEDURE("Add_Table_TOC", Inner).run([&] {
        KV_LINE;
        h::MapPtr map = Map();
        if (!map || !table) h::failObjectNotSet(KV_PROJECT_NAME);
        auto standalone = std::make_shared<h::StandaloneTable>(table->name(), table->path());
        standalone->table = table;
        map->addTable(standalone);
        KV_LINE;
        map->contentsChanged();
    });
}

std::optional<std::vector<h::Value>> frmGridRegionStats::GetClassValues(const h::RasterLayer& layer,
                                                                        const std::string& fieldName) {
    std::optional<std::vector<h::Value>> result;
    KV_PROCEDURE("GetClassValues", TopLevel).run([&] {
        KV_LINE;
        h::TablePtr table = layer.raster() ? layer.raster()->attributeTable() : nullptr;
        if (!table) h::failObjectNotSet(KV_PROJECT_NAME);
        const int32_t at = table->findField(fieldName);
        if (at < 0) {
            MsgBox("Cannot find " + fieldName + " field in the Grid.", h::mb::Information,
                   "Missing Field in Raster GetClasses");
            return;
        }
        result = DistinctFieldValues(*table, at);
    });
    return result;
}

}  // namespace kv
