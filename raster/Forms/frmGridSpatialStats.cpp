// The Grid Spatial Statistics dialog (frmGridSpatialStats): layout, the
// level rules, the Select buttons, the output table, the parameter dialog,
// the Run checks that turn the boxes into fragstat codes, and the map events
// that keep the layer list current. The run itself is in
// frmGridSpatialStatsRun.cpp.
#include "raster/Forms/frmGridSpatialStats.h"

#include <filesystem>
#include <algorithm>
#include <map>

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/RasterLayer.h"
#include "raster/Forms/frmAnalParams.h"
#include "raster/Modules/modMisc.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

KV_MODULE("Forms/frmGridSpatialStats");

namespace kv {

namespace h = korvane::host;

const GridMetricBox kGridMetricBoxes[30] = {
    {"chkVerbose", "Verbose error tracking messages", "fraOptions", false, true, false, "Errtrack", true},
    {"chkAdditionalLandscape", "Additional Landscape Metrics", "fraOptions", false, false, false,
     "CACV1,CASD1,%LAND,C%LAND,DLFD,LPI,LSI,MCAI,MCA1,NCA,MSIDI,PR,PRD,SIDI,SIEI,MSIEI", false},
    {"chkAdditionalClass", "Additional Class Metrics", "fraOptions", false, true, false,
     "CACV1,CASD1,%LAND,C%LAND,DLFD,LPI,LSI,MCAI,MCA1,NCA", false},
    {"chkCACoV", "Core Area Coefficient of Variation", "fraCoreAreaMetrics", true, true, false, "CACV2", true},
    {"chkMCA", "Mean Core Area", "fraCoreAreaMetrics", true, true, false, "MCA2", true},
    {"chkCASD", "Core Area Standard Deviation", "fraCoreAreaMetrics", true, true, false, "CASD2", true},
    {"chkTotalCoreArea", "Total Core Area", "fraCoreAreaMetrics", true, true, false, "TCA", true},
    {"chkTotalCoreAreaIndex", "Total Core Area Index", "fraCoreAreaMetrics", true, true, false, "TCAI", true},
    {"chkCoreAreaDensity", "Core Area Density", "fraCoreAreaMetrics", true, true, false, "CAD", true},
    {"chkIJI", "Interpersion Juxtaposition Index", "fraDiversityMetrics", false, true, false, "IJI", false},
    {"chkMPI", "Mean Proximity Index", "fraDiversityMetrics", false, true, false, "MPI", false},
    {"chkMNND", "Mean Nearest Neighbour Distance", "fraDiversityMetrics", false, true, false, "MNN", false},
    {"chkShannonsDiversity", "Shannon's Diversity Index", "fraDiversityMetrics", false, false, false, "SHDI", true},
    {"chkShannonsEvenness", "Shannon's Evenness Index", "fraDiversityMetrics", false, false, false, "SHEI", true},
    {"chkAreaWeightedMSI", "Area Weighted Mean Shape Index", "fraShapeMetrics", true, true, false, "AWMSI", true},
    {"chkMeanShapeIndex", "Mean Shape Index", "fraShapeMetrics", true, true, false, "MSI", true},
    {"chkMeanPerimAreaRatio", "Mean Perimeter-Area Ratio", "fraShapeMetrics", false, false, true, "MPAR", false},
    {"chkMeanPatchFractalDim", "Mean Patch Fractal Dimension", "fraShapeMetrics", true, true, false, "MPFD", true},
    {"chkAreaWeightedMPFD", "Area Weighted Mean Patch Fractal Dimension", "fraShapeMetrics", true, true, false,
     "AWMPFD", true},
    {"chkCWED", "Contrast-Weighted Edge Density", "fraEdgeMetrics", false, true, false, "CWED", false},
    {"chkTotalEdge", "Total Edge", "fraEdgeMetrics", true, true, false, "TE", true},
    {"chkEdgeDensity", "Edge Density", "fraEdgeMetrics", true, true, false, "ED", true},
    {"chkMeanEdge", "Mean Patch Edge", "fraEdgeMetrics", false, false, true, "ME", false},
    {"chkMeanPatchSize", "Mean Patch Size", "fraDensityAndSize", true, true, false, "MPS", true},
    {"chkNumOfPatches", "Number of Patches", "fraDensityAndSize", true, true, false, "NP", true},
    {"chkMedianPatchSize", "Median Patch Size", "fraDensityAndSize", false, false, true, "MedPS", false},
    {"chkPatchSize_Variance", "Patch Size Coefficient of Variance", "fraDensityAndSize", true, true, false, "PSCV",
     true},
    {"chkPatchSize_stdDev", "Patch Size Standard Deviation", "fraDensityAndSize", true, true, false, "PSSD", true},
    {"chkTotalLandscapeArea", "Total Landscape Area", "fraOptions", true, true, false, "TA", true},
    {"chkClassArea", "Class Area", "fraOptions", true, true, false, "CA", true},
};

namespace {

const GridMetricBox* boxOf(const std::string& name) {
    for (const GridMetricBox& b : kGridMetricBoxes)
        if (name == b.name) return &b;
    return nullptr;
}

std::string trimmedText(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

}  // namespace

std::vector<std::string> BuildChosenStats(const std::vector<std::string>& chosenEntries) {
    std::vector<std::string> codes;
    auto append = [&](const std::string& code) {
        if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
    };
    for (const std::string& entry : chosenEntries) {
        std::string rest = entry;
        size_t comma;
        while ((comma = rest.find(',')) != std::string::npos) {
            append(rest.substr(0, comma));
            rest = trimmedText(rest.substr(comma + 1));
        }
        append(rest);
    }
    return codes;
}

frmGridSpatialStats::frmGridSpatialStats() : KorvaneForm("frmGridSpatialStats") {}

frmGridSpatialStats::~frmGridSpatialStats() { unsubscribe(); }

bool frmGridSpatialStats::isMetricBox(const h::Control& c) const {
    return c.type() == h::ControlType::CheckBox && boxOf(c.name()) != nullptr;
}

// ---- design --------------------------------------------------------------------------

void frmGridSpatialStats::design() {
    setCaption("Spatial Statistics for Grids");
    width = 10215;
    height = 9000;

    auto label = [&](const char* name, const char* caption, h::Frame* in, int32_t l, int32_t t, int32_t w) {
        auto& lbl = add<h::Label>(name);
        lbl.setContainer(in);
        lbl.setCaption(caption);
        lbl.move(l, t, w, 255);
    };
    auto frame = [&](const char* name, const char* caption, h::Frame* in, int32_t l, int32_t t, int32_t w,
                     int32_t ht) -> h::Frame& {
        auto& f = add<h::Frame>(name);
        f.setContainer(in);
        f.setCaption(caption);
        f.move(l, t, w, ht);
        return f;
    };
    auto button = [&](const char* name, const char* caption, int32_t l, int32_t t, int32_t w) -> h::CommandButton& {
        auto& b = add<h::CommandButton>(name);
        b.setCaption(caption);
        b.move(l, t, w, 375);
        return b;
    };

    label("lblLayers", "Layers", nullptr, 240, 120, 1455);
    auto& lst = add<h::ListBox>("lstLayers");
    lst.move(240, 420, 5055, 1230);

    label("lblClass", "Class", nullptr, 240, 1800, 1455);
    auto& cbo = add<h::ComboBox>("cboClass");
    cbo.style = h::ComboStyle::DropDownCombo;
    cbo.move(1800, 1800, 3495, 315);

    label("lblAnalyzeBy", "Analyze By", nullptr, 5520, 420, 1455);
    auto& chkLandscape = add<h::CheckBox>("chkLandscape");
    chkLandscape.setCaption("Landscape");
    chkLandscape.move(5520, 720, 1695, 255);
    auto& chkClass = add<h::CheckBox>("chkClass");
    chkClass.setCaption("Class");
    chkClass.move(5520, 1000, 1695, 255);
    chkClass.setValue(h::Checked);

    label("lblOutputTableName", "Output Table Name", nullptr, 240, 2280, 1455);
    auto& txt = add<h::TextBox>("txtOutputTableName");
    txt.locked = true;   // chosen through the save dialog only
    txt.move(1800, 2280, 5295, 285);
    auto& fraAppendOverwrite = frame("fraAppendOverwrite", "", nullptr, 7320, 2160, 1575, 615);
    auto& optAppend = add<h::OptionButton>("optAppend");
    optAppend.setContainer(&fraAppendOverwrite);
    optAppend.setCaption("Append");
    optAppend.move(120, 0, 1215, 255);
    optAppend.setValue(true);
    optAppend.setEnabled(false);
    auto& optOverwrite = add<h::OptionButton>("optOverwrite");
    optOverwrite.setContainer(&fraAppendOverwrite);
    optOverwrite.setCaption("Overwrite");
    optOverwrite.move(120, 255, 1215, 255);
    optOverwrite.setEnabled(false);

    // Options and the metric groups. The toolkit shows captions as they are:
    // "&" stands for itself.
    auto& fraOptions = frame("fraOptions", "Options", nullptr, 120, 2880, 9975, 4815);
    frame("fraDensityAndSize", "Patch Density & Size Metrics", &fraOptions, 120, 1080, 3135, 1575);
    frame("fraEdgeMetrics", "Edge Metrics", &fraOptions, 120, 2760, 3135, 1335);
    frame("fraShapeMetrics", "Shape Metrics", &fraOptions, 3360, 240, 3135, 1575);
    frame("fraDiversityMetrics", "Diversity Metrics", &fraOptions, 3360, 1920, 3135, 1575);
    frame("fraCoreAreaMetrics", "Core Area Metrics", &fraOptions, 6600, 240, 3255, 1815);
    std::map<std::string, int32_t> nextTop;
    int32_t optionsTop = 240;
    for (const GridMetricBox& b : kGridMetricBoxes) {
        auto& box = add<h::CheckBox>(b.name);
        h::Frame& in = get<h::Frame>(b.frame);
        box.setContainer(&in);
        box.setCaption(b.caption);
        if (std::string(b.frame) == "fraOptions") {
            box.move(6720, 2160 + optionsTop, 3135, 255);
            optionsTop += 240;
        } else {
            int32_t& top = nextTop.emplace(b.frame, 240).first->second;
            box.move(120, top, 2895, 255);
            top += 240;
        }
        if (b.checkedAtLoad) box.setValue(h::Checked);
        box.setEnabled(b.enabledAtLoad && !b.alwaysDisabled);
    }

    auto& fraAnalysis = frame("frmAnalysis", "Analysis Parameters", nullptr, 120, 7800, 7335, 855);
    struct Param {
        const char *label, *caption, *box;
        int32_t left, top;
    } params[] = {
        {"lblMPI", "MPI Threshold:", "txtMPI", 120, 240},
        {"lblCWEDFilename", "CWED file name:", "txtCWEDFilename", 3600, 240},
        {"lblBufferDistance", "Buffer Distance:", "txtBufferDistance", 120, 540},
        {"lblBoundaryInfl", "Boundary Influence:", "txtBoundaryInfl", 3600, 540},
    };
    for (const Param& p : params) {
        label(p.label, p.caption, &fraAnalysis, p.left, p.top, 1455);
        auto& box = add<h::TextBox>(p.box);
        box.setContainer(&fraAnalysis);
        box.locked = true;   // set through the parameter dialog
        box.move(p.left + 1500, p.top, 1815, 285);
    }
    auto& cmdParams = button("cmdParams", "Set Analysis Parameters", 7560, 8040, 2415);

    auto& cmdSelectBasic = button("cmdSelectBasic", "Select Basic", 120, 8520, 1455);
    auto& cmdSelectNone = button("cmdSelectNone", "Select None", 1680, 8520, 1455);
    auto& cmdSelectAll = button("cmdSelectAll", "Select All", 3240, 8520, 1455);
    auto& cmdCancel = button("cmdCancel", "Cancel", 7320, 8520, 1215);
    cmdCancel.isCancel = true;
    auto& cmdOK = button("cmdOK", "Run", 8640, 8520, 1215);

    add<h::CommonDialog>("cmnDlg");

    // Events, wired once the initial states are set.
    lst.onClick = [this] { lstLayers_Click(); };
    chkClass.onClick = [this] { chkClass_Click(); };
    chkLandscape.onClick = [this] { chkLandscape_Click(); };
    txt.onClick = [this] { txtOutputTableName_Click(); };
    optOverwrite.onClick = [this] { optOverwrite_Click(); };
    cmdParams.onClick = [this] { cmdParams_Click(); };
    cmdSelectBasic.onClick = [this] { cmdSelectBasic_Click(); };
    cmdSelectNone.onClick = [this] { cmdSelectNone_Click(); };
    cmdSelectAll.onClick = [this] { cmdSelectAll_Click(); };
    cmdCancel.onClick = [this] { cmdCancel_Click(); };
    cmdOK.onClick = [this] { cmdOK_Click(); };
}

// ---- properties -------------------------------------------------------------------------

h::MapPtr frmGridSpatialStats::Map() {
    h::MapPtr result;
    KV_PROCEDURE("Map", TopLevel).run([&] {
        KV_LINE;
        result = hookFocusMap();
    });
    return result;
}

// ---- load, unload, map events -----------------------------------------------------------

void frmGridSpatialStats::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        renames_ = GridFieldRenameMap();
        KV_LINE;
        if (!params_) params_ = std::make_unique<frmAnalParams>();
        KV_LINE;
        params_->load();
        copyParameters();
        KV_LINE;
        get<h::TextBox>("txtOutputTableName").setText("");
        get<h::OptionButton>("optAppend").setEnabled(false);
        get<h::OptionButton>("optOverwrite").setEnabled(false);
        KV_LINE;
        subscribe();
        KV_LINE;
        PopulateLayersList();
    });
}

void frmGridSpatialStats::Form_Unload(int& cancel) {
    KV_PROCEDURE("Form_Unload", TopLevel).run([&] {
        KV_LINE;
        unsubscribe();
        KV_LINE;
        releaseParameterDialog();
    });
}

void frmGridSpatialStats::releaseParameterDialog() {
    if (params_ && params_->loaded()) params_->unloadWithOwner();
}

void frmGridSpatialStats::subscribe() {
    unsubscribe();
    theMap_ = Map();
    if (!theMap_) return;
    addedToken_ = theMap_->itemAdded.connect([this](const h::LayerPtr&) { m_pMap_ItemAdded(); });
    deletedToken_ = theMap_->itemDeleted.connect([this](const h::LayerPtr&) { m_pMap_ItemDeleted(); });
}

void frmGridSpatialStats::unsubscribe() {
    if (!theMap_) return;
    theMap_->itemAdded.disconnect(addedToken_);
    theMap_->itemDeleted.disconnect(deletedToken_);
    theMap_.reset();
}

// The host's event dispatch never sees a failure: the handlers report it here.
void frmGridSpatialStats::m_pMap_ItemAdded() {
    KV_PROCEDURE("m_pMap_ItemAdded", TopLevel).run([&] {
        KV_LINE;
        PopulateLayersList();
    });
}

void frmGridSpatialStats::m_pMap_ItemDeleted() {
    KV_PROCEDURE("m_pMap_ItemDeleted", TopLevel).run([&] {
        KV_LINE;
        PopulateLayersList();
    });
}

void frmGridSpatialStats::PopulateLayersList() {
    KV_PROCEDURE("PopulateLayersList", Inner).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        lst.clear();
        KV_LINE;
        h::MapPtr map = Map();
        if (!map) return;
        for (const h::LayerPtr& layer : map->layers()) {
            auto raster = std::dynamic_pointer_cast<h::RasterLayer>(layer);
            if (raster && raster->raster()) lst.addItem(layer->name());
        }
    });
}

void frmGridSpatialStats::copyParameters() {
    if (!params_) return;
    for (const char* box : {"txtMPI", "txtBufferDistance", "txtBoundaryInfl", "txtCWEDFilename"})
        get<h::TextBox>(box).setText(params_->get<h::TextBox>(box).text());
}

// ---- layer, levels, Select buttons ----------------------------------------------------------

void frmGridSpatialStats::lstLayers_Click() {
    KV_PROCEDURE("lstLayers_Click", TopLevel).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        if (lst.listIndex() < 0) return;   // the selection was cleared
        KV_LINE;
        h::LayerPtr layer = FindLayerByName(Map(), lst.text());
        KV_LINE;
        PopulateFieldListBox(layer, get<h::ComboBox>("cboClass"));
    });
}

void frmGridSpatialStats::chkClass_Click() {
    KV_PROCEDURE("chkClass_Click", TopLevel).run([&] {
        KV_LINE;
        bool on = get<h::CheckBox>("chkClass").checked();
        auto& additional = get<h::CheckBox>("chkAdditionalClass");
        if (!on) additional.setValue(h::Unchecked);
        additional.setEnabled(on);
    });
}

void frmGridSpatialStats::chkLandscape_Click() {
    KV_PROCEDURE("chkLandscape_Click", TopLevel).run([&] {
        KV_LINE;
        bool on = get<h::CheckBox>("chkLandscape").checked();
        for (const char* name : {"chkAdditionalLandscape", "chkShannonsDiversity", "chkShannonsEvenness"}) {
            auto& box = get<h::CheckBox>(name);
            if (!on) box.setValue(h::Unchecked);
            box.setEnabled(on);
        }
    });
}

void frmGridSpatialStats::cmdSelectAll_Click() {
    KV_PROCEDURE("cmdSelectAll_Click", TopLevel).run([&] {
        KV_LINE;
        for (h::Control* c : controls())
            if (isMetricBox(*c) && c->enabled()) static_cast<h::CheckBox*>(c)->setValue(h::Checked);
    });
}

void frmGridSpatialStats::cmdSelectNone_Click() {
    KV_PROCEDURE("cmdSelectNone_Click", TopLevel).run([&] {
        KV_LINE;
        for (h::Control* c : controls())
            if (isMetricBox(*c)) static_cast<h::CheckBox*>(c)->setValue(h::Unchecked);
    });
}

void frmGridSpatialStats::cmdSelectBasic_Click() {
    KV_PROCEDURE("cmdSelectBasic_Click", TopLevel).run([&] {
        KV_LINE;
        for (h::Control* c : controls())
            if (isMetricBox(*c) && c->enabled())
                static_cast<h::CheckBox*>(c)->setValue(boxOf(c->name())->basic ? h::Checked : h::Unchecked);
    });
}

// ---- output table, parameters ------------------------------------------------------------------

void frmGridSpatialStats::GetSaveLocation() {
    KV_PROCEDURE("GetSaveLocation", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.filter = "DBase IV(*.dbf)|*.dbf";
        dlg.defaultExt.clear();
        KV_LINE;
        dlg.showSave();   // Cancel keeps the name the dialog held
        KV_LINE;
        // A relative name is held as the full path a desktop save dialog gives.
        if (!dlg.fileName.empty() && dlg.fileName.front() != '/')
            dlg.fileName = std::filesystem::absolute(dlg.fileName).lexically_normal().string();
        get<h::TextBox>("txtOutputTableName").setText(dlg.fileName);
    });
}

void frmGridSpatialStats::txtOutputTableName_Click() {
    KV_PROCEDURE("txtOutputTableName_Click", TopLevel).run([&] {
        KV_LINE;
        GetSaveLocation();
        KV_LINE;
        bool exists = h::fs::FileExists(get<h::TextBox>("txtOutputTableName").text());
        get<h::OptionButton>("optAppend").setEnabled(exists);
        get<h::OptionButton>("optOverwrite").setEnabled(exists);
    });
}

void frmGridSpatialStats::optOverwrite_Click() {
    KV_PROCEDURE("optOverwrite_Click", TopLevel).run([&] {
        KV_LINE;
        if (!get<h::OptionButton>("optOverwrite").value()) return;
        KV_LINE;
        int32_t answer = MsgBox("Are you sure you want to overwrite this file?", h::mb::YesNo | h::mb::Question,
                                "Confirm Overwrite");
        KV_LINE;
        if (answer == h::mb::No) get<h::OptionButton>("optAppend").setValue(true);
    });
}

void frmGridSpatialStats::cmdParams_Click() {
    KV_PROCEDURE("cmdParams_Click", TopLevel).run([&] {
        KV_LINE;
        if (!params_) h::failObjectNotSet(KV_PROJECT_NAME);
        KV_LINE;
        h::SetWindowLongA(params_->hWnd(), h::GWL_HWNDPARENT, hWnd());
        KV_LINE;
        ShowForm(*params_, true);
        KV_LINE;
        copyParameters();
    });
}

// ---- Run, Cancel -----------------------------------------------------------------------------------

void frmGridSpatialStats::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        if (lst.listIndex() < 0) {
            MsgBox("You need to a layer to analyze.", h::mb::OKOnly, "Missing Data");
            return;
        }
        const bool landscape = get<h::CheckBox>("chkLandscape").checked();
        const bool cls = get<h::CheckBox>("chkClass").checked();
        if (!landscape && !cls) {
            MsgBox("You need to have at least Landscape or Class chosen to be analyzed by", h::mb::OKOnly,
                   "Missing Choice");
            return;
        }
        KV_LINE;
        if (get<h::ComboBox>("cboClass").text().empty()) {
            MsgBox("You need to a class to analyze by.", h::mb::OKOnly, "Missing Data");
            return;
        }
        auto& table = get<h::TextBox>("txtOutputTableName");
        if (table.text().empty()) {
            MsgBox("You need to choose the name of the output table first.", h::mb::OKOnly, "Missing Data");
            return;
        }
        KV_LINE;
        auto& cwed = get<h::TextBox>("txtCWEDFilename");
        if (!cwed.text().empty() && !h::fs::FileExists(cwed.text())) {
            MsgBox(cwed.text() + " could not be found.  Using no file instead.", h::mb::OKOnly);
            cwed.setText("");
        }

        // The chosen entries in control order; an unchecked verbose box
        // stands first as "Errtrack" = False.
        KV_LINE;
        std::vector<std::string> entries;
        bool anyChosen = false, trackErrors = false;
        for (h::Control* c : controls()) {
            if (!isMetricBox(*c)) continue;
            auto* box = static_cast<h::CheckBox*>(c);
            const GridMetricBox* b = boxOf(c->name());
            if (box->checked()) {
                anyChosen = true;
                if (c->name() == "chkVerbose") trackErrors = true;
                entries.push_back(b->codes);
            } else if (c->name() == "chkVerbose") {
                entries.push_back(b->codes);
            }
        }
        if (!anyChosen) {
            MsgBox("At least one statistic must be chosen.", h::mb::OKOnly, "Missing Choice");
            return;
        }
        std::vector<std::string> chosen = BuildChosenStats(entries);
        std::string level = std::string(landscape ? "L" : "") + (cls ? "C" : "");

        KV_LINE;
        bool ok = RunGridSpatialStats(lst.text(), get<h::ComboBox>("cboClass").text(), true, table.text(),
                                      get<h::OptionButton>("optAppend").value(), chosen, trackErrors,
                                      get<h::TextBox>("txtBufferDistance").text(), get<h::TextBox>("txtMPI").text(),
                                      cwed.text(), get<h::TextBox>("txtBoundaryInfl").text(), level, true);
        KV_LINE;
        if (ok) {
            MsgBox("Grid spatial statistics was successful.", h::mb::Information, "Successful Execution");
            bool exists = h::fs::FileExists(GridStatsTablePath(table.text()));
            get<h::OptionButton>("optAppend").setEnabled(exists);
            get<h::OptionButton>("optOverwrite").setEnabled(exists);
        } else {
            MsgBox("Grid spatial statistics was not successful.", h::mb::Exclamation, "Failed Execution");
        }
    });
}

void frmGridSpatialStats::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        releaseParameterDialog();
        KV_LINE;
        unload();
    });
}

// ---- class values and array search ----------------------------------------------------------------

int32_t frmGridSpatialStats::SearchArray(const std::vector<std::string>& InArray, const std::string& SearchValue) {
    int32_t result = -1;
    KV_PROCEDURE("SearchArray", TopLevel).run([&] {
        KV_LINE;
        for (size_t i = 0; i < InArray.size(); ++i)
            if (InArray[i] == SearchValue) {
                result = static_cast<int32_t>(i);
                return;
            }
    });
    return result;
}

}  // namespace kv
