// The Spatial Statistics dialog (frmSpatialStat): layout, activation reset,
// layer and level rules, output table choice, and the run request that runs
// the metric run or appends a batch line.
#include "vector/Forms/frmSpatialStat.h"

#include <filesystem>
#include <fstream>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Forms/frmSpatialStat1Run.h"
#include "vector/Modules/modKorvaneIni.h"
#include "vector/Modules/modMisc.h"

KV_MODULE("Forms/frmSpatialStat1");

namespace kv {

namespace h = korvane::host;

const VectorMetric kVectorMetrics[20] = {
    {"chkTotalArea", "TCA", "Total Core Area"},
    {"chkTotalAreaIndex", "TCAI", "Total Core Area Index"},
    {"chkAreaDensity", "CAD", "Core Area Density"},
    {"chkShannonsDiversity", "SDI", "Shannon's Diversity Index"},
    {"chkShannonsEvenness", "SEI", "Shannon's Evenness Index"},
    {"chkAreaWeightedMSI", "AWMSI", "Area Weighted Mean Shape Index"},
    {"chkMeanShapeIndex", "MSI", "Mean Shape Index"},
    {"chkMeanPerimAreaRatio", "MPAR", "Mean Perimeter-Area Ratio"},
    {"chkMeanPatchFractalDim", "MPFD", "Mean Patch Fractal Dimension"},
    {"chkAreaWeightedMPFD", "AWMPFD", "Area Weighted Mean Patch Fractal Dimension"},
    {"chkTotalEdge", "TE", "Total Edge"},
    {"chkEdgeDensity", "ED", "Edge Density"},
    {"chkMeanEdge", "MPE", "Mean Patch Edge"},
    {"chkMeanPatchSize", "MPS", "Mean Patch Size"},
    {"chkNumOfPatches", "NumP", "Number of Patches"},
    {"chkMedianPatchSize", "MedPS", "Median Patch Size"},
    {"chkPatchSize_Variance", "PSCoV", "Patch Size Coefficient of Variance"},
    {"chkPatchSize_stdDev", "PSSD", "Patch Size Standard Deviation"},
    {"chkTotalLandscapeArea", "TLA", "Total Landscape Area"},
    {"chkClassArea", "CA", "Class Area"},
};

namespace {

constexpr const char* kCoreBoxes[] = {"chkTotalArea", "chkAreaDensity", "chkTotalAreaIndex"};

// Check boxes of the dialog that are no metrics.
bool isMetricBox(const h::Control& c) {
    return c.type() == h::ControlType::CheckBox && c.name() != "chkAddToMap" && c.name() != "chkHectares";
}

std::string upper(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

const char* trueFalse(bool b) { return b ? "True" : "False"; }

// Where a metric box sits: its frame (nullptr: directly in "Options") and top.
struct MetricPlace {
    const char* checkBox;
    const char* frame;
    int32_t top;
    int32_t height;
};
constexpr MetricPlace kMetricPlaces[] = {
    {"chkTotalArea", "fraCoreAreaMetrics", 240, 255},
    {"chkTotalAreaIndex", "fraCoreAreaMetrics", 720, 255},
    {"chkAreaDensity", "fraCoreAreaMetrics", 480, 255},
    {"chkShannonsDiversity", "fraDiversityMetrics", 240, 255},
    {"chkShannonsEvenness", "fraDiversityMetrics", 480, 255},
    {"chkAreaWeightedMSI", "fraShapeMetrics", 480, 255},
    {"chkMeanShapeIndex", "fraShapeMetrics", 240, 255},
    {"chkMeanPerimAreaRatio", "fraShapeMetrics", 720, 255},
    {"chkMeanPatchFractalDim", "fraShapeMetrics", 960, 255},
    {"chkAreaWeightedMPFD", "fraShapeMetrics", 1230, 375},   // caption on two lines
    {"chkTotalEdge", "fraEdgeMetrics", 240, 255},
    {"chkEdgeDensity", "fraEdgeMetrics", 480, 255},
    {"chkMeanEdge", "fraEdgeMetrics", 720, 255},
    {"chkMeanPatchSize", "fraDensityAndSize", 480, 255},
    {"chkNumOfPatches", "fraDensityAndSize", 240, 255},
    {"chkMedianPatchSize", "fraDensityAndSize", 720, 255},
    {"chkPatchSize_Variance", "fraDensityAndSize", 960, 255},
    {"chkPatchSize_stdDev", "fraDensityAndSize", 1200, 255},
    {"chkTotalLandscapeArea", nullptr, 600, 255},
    {"chkClassArea", nullptr, 360, 255},
};

// The tab order, from the layer list to "Run".
constexpr const char* kTabOrder[] = {
    "lstLayers", "chkAddToMap", "cboClass", "optClass", "optLandscape", "txtOutputTableName", "optAppend",
    "optOverwrite", "chkClassArea", "chkTotalLandscapeArea", "chkNumOfPatches", "chkMeanPatchSize",
    "chkMedianPatchSize", "chkPatchSize_Variance", "chkPatchSize_stdDev", "chkTotalEdge", "chkEdgeDensity",
    "chkMeanEdge", "chkMeanShapeIndex", "chkAreaWeightedMSI", "chkMeanPerimAreaRatio", "chkMeanPatchFractalDim",
    "chkAreaWeightedMPFD", "chkShannonsDiversity", "chkShannonsEvenness", "chkTotalArea", "chkAreaDensity",
    "chkTotalAreaIndex", "optVector", "optRaster", "chkHectares", "cmdSelectNone", "cmdSelectAll", "cmdCancel",
    "cmdBatch", "cmdOK",
};

// A text value of a batch line must survive the batch reader, which splits
// at "," "[" "]", trims blanks and reads one line.
std::string valueProblem(const std::string& what, const std::string& value, const std::string& remedy) {
    bool splits = value.find_first_of(",[]") != std::string::npos;
    bool breaks = value.find_first_of("\r\n") != std::string::npos;
    bool blanks = !value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                                     value.back() == '\t');
    if (!splits && !breaks && !blanks) return {};
    std::string why = splits   ? "contains \",\", \"[\" or \"]\""
                      : breaks ? "contains a line break"
                               : "begins or ends with a blank";
    return fmt::format("The {} '{}' {}, which a batch line cannot hold without changing its meaning.\r\n{}", what,
                       value, why, remedy);
}

}  // namespace

std::string SpatialStatsBatchLine(const SpatialStatsRequest& r) {
    std::string list = "[";
    for (const std::string& box : r.CheckedBoxes) list += box + ",";
    if (list.size() > 1) list.back() = ']';
    else list += "]";
    return fmt::format("RunSpatialStats ArcMapHook, {}, {}, {}, {}, {}, True, {}, {}, {}", r.ThemeName, r.ClassField,
                       trueFalse(r.blnRaster), trueFalse(r.blnAddNewLayerToMap), r.NewTableFileName, list,
                       trueFalse(r.blnLandscape), trueFalse(r.blnAsHectares));
}

std::string BatchLineProblem(const SpatialStatsRequest& r) {
    const std::string runInstead = "Use Run to compute it now, or rename it before adding it to the batch.";
    std::string p = valueProblem("layer name", r.ThemeName, runInstead);
    if (p.empty()) p = valueProblem("class field name", r.ClassField, runInstead);
    if (p.empty())
        p = valueProblem("output table path", r.NewTableFileName,
                         "Choose another output table, or use Run to compute it now.");
    return p;
}

// ---- design ------------------------------------------------------------------

void frmSpatialStat::design() {
    setCaption("Spatial Statistics");
    width = 10095;   // client area, fixed single border
    height = 8310;
    borderSizable = false;

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
    auto option = [&](const char* name, const char* caption, h::Frame* in, int32_t l, int32_t t, int32_t w,
                      bool selected) -> h::OptionButton& {
        auto& o = add<h::OptionButton>(name);
        o.setContainer(in);
        o.setCaption(caption);
        o.move(l, t, w, 255);
        if (selected) o.setValue(true);
        return o;
    };
    auto button = [&](const char* name, const char* caption, int32_t l, int32_t w, bool enabled) -> h::CommandButton& {
        auto& b = add<h::CommandButton>(name);
        b.setCaption(caption);
        b.move(l, 7800, w, 375);
        b.setEnabled(enabled);
        return b;
    };

    // Controls other than the metric boxes, in control order, each group's
    // frame and each control's label just before it.
    label("lblLayers", "Layers", nullptr, 240, 240, 1455);
    auto& lst = add<h::ListBox>("lstLayers");
    lst.move(240, 600, 6855, 1230);

    // Borderless groups: their caption is not shown.
    auto& fraAppendOverwrite = frame("fraAppendOverwrite", "", nullptr, 7200, 3000, 1575, 615);
    auto& optOverwrite = option("optOverwrite", "Overwrite", &fraAppendOverwrite, 240, 240, 1215, false);
    auto& optAppend = option("optAppend", "Append", &fraAppendOverwrite, 240, 0, 1215, true);

    label("lblAnalyzeBy", "Analyze By", nullptr, 240, 2640, 1455);
    auto& fraAnalyzeBy = frame("fraAnalyzeBy", "", nullptr, 1800, 2640, 3375, 255);
    auto& optClass = option("optClass", "Class", &fraAnalyzeBy, 1800, 0, 1335, true);
    auto& optLandscape = option("optLandscape", "Landscape", &fraAnalyzeBy, 240, 0, 1335, false);

    auto& fraOptions = frame("fraOptions", "Options", nullptr, 120, 3600, 9855, 3975);
    auto& fraAdvanced = frame("fraAdvancedOptions", "Advanced Options", &fraOptions, 6600, 2280, 3135, 1575);
    auto& hectares = add<h::CheckBox>("chkHectares");
    hectares.setContainer(&fraAdvanced);
    hectares.setCaption("State areas in hectares");
    hectares.move(120, 960, 2895, 255);
    label("lblAnalyzeVectorsAs", "Analyze Vectors As", &fraAdvanced, 120, 360, 1455);
    option("optVector", "Vector", &fraAdvanced, 1680, 480, 1335, true);
    option("optRaster", "Raster", &fraAdvanced, 1680, 240, 1335, false);

    auto& cmdOK = button("cmdOK", "Run", 8760, 1215, true);
    auto& cmdBatch = button("cmdBatch", "Add to Batch", 6135, 1215, false);
    auto& cmdCancel = button("cmdCancel", "Cancel", 7447, 1215, true);
    cmdCancel.isCancel = true;
    auto& cmdSelectAll = button("cmdSelectAll", "Select All", 1680, 1455, true);
    auto& cmdSelectNone = button("cmdSelectNone", "Select None", 120, 1455, true);

    label("lblClass", "Class", nullptr, 240, 2160, 1455);
    auto& cbo = add<h::ComboBox>("cboClass");
    cbo.style = h::ComboStyle::DropDownCombo;
    cbo.move(1800, 2160, 3735, 315);

    auto& addToMap = add<h::CheckBox>("chkAddToMap");
    addToMap.setCaption("Add Korvane layer to map");
    addToMap.move(7800, 1080, 1695, 375);   // caption on two lines

    label("lblOutputTableName", "Output Table Name", nullptr, 240, 3135, 1455);
    auto& txt = add<h::TextBox>("txtOutputTableName");
    txt.locked = true;   // chosen through the save dialog only
    txt.move(1800, 3120, 5295, 285);

    // The metric frames, then the metric boxes in control order. The toolkit
    // shows captions as they are, so "&" stands for itself.
    frame("fraCoreAreaMetrics", "Core Area Metrics", &fraOptions, 6600, 1080, 3135, 1095);
    frame("fraDiversityMetrics", "Diversity Metrics", &fraOptions, 3360, 3000, 3135, 855);
    frame("fraShapeMetrics", "Shape Metrics", &fraOptions, 3360, 1080, 3135, 1815);
    frame("fraEdgeMetrics", "Edge Metrics", &fraOptions, 120, 2760, 3135, 1095);
    frame("fraDensityAndSize", "Patch Density & Size Metrics", &fraOptions, 120, 1080, 3135, 1575);
    for (size_t i = 0; i < std::size(kVectorMetrics); ++i) {
        const VectorMetric& m = kVectorMetrics[i];
        const MetricPlace& p = kMetricPlaces[i];
        auto& box = add<h::CheckBox>(m.checkBox);
        h::Frame* in = p.frame ? &get<h::Frame>(p.frame) : &fraOptions;
        box.setContainer(in);
        box.setCaption(m.caption);
        box.move(p.frame ? 120 : 240, p.top, 2895, p.height);
        std::string code = m.code;
        bool coreOrDiversity = code == "TCA" || code == "TCAI" || code == "CAD" || code == "SDI" || code == "SEI";
        if (coreOrDiversity) box.setEnabled(false);
        else box.setValue(h::Checked);
    }

    add<h::CommonDialog>("cmnDlg");

    int32_t tab = 0;
    for (const char* name : kTabOrder) get<h::Control>(name).tabIndex = tab++;
    for (h::Control* c : controls())
        if (!c->focusable()) c->tabIndex = tab++;

    // Events, wired after the initial states are set.
    lst.onClick = [this] { lstLayers_Click(); };
    optClass.onClick = [this] { optClass_Click(); };
    optLandscape.onClick = [this] { optLandscape_Click(); };
    txt.onClick = [this] { txtOutputTableName_Click(); };
    optOverwrite.onClick = [this] { optOverwrite_Click(); };
    (void)optAppend;
    cmdSelectAll.onClick = [this] { cmdSelectAll_Click(); };
    cmdSelectNone.onClick = [this] { cmdSelectNone_Click(); };
    cmdOK.onClick = [this] { cmdOK_Click(); };
    cmdBatch.onClick = [this] { cmdBatch_Click(); };
    cmdCancel.onClick = [this] { cmdCancel_Click(); };
}

// ---- properties ----------------------------------------------------------------

h::MapPtr frmSpatialStat::Map() {
    h::MapPtr result;
    KV_PROCEDURE("Map", TopLevel).run([&] {
        KV_LINE;
        result = hookFocusMap();
    });
    return result;
}

// ---- activation and layer list ---------------------------------------------------

void frmSpatialStat::Form_Activate() {
    KV_PROCEDURE("Form_Activate", TopLevel).run([&] {
        KV_LINE;
        get<h::ComboBox>("cboClass").setText("");
        KV_LINE;
        get<h::TextBox>("txtOutputTableName").setText("");

        KV_LINE;
        auto& hectares = get<h::CheckBox>("chkHectares");
        KV_LINE;
        h::MapPtr map = Map();
        KV_LINE;
        int32_t units = map ? map->mapUnits() : h::UnitUnknown;
        if (units == h::UnitMeters) {
            hectares.setCaption("State areas in hectares");
            hectares.setEnabled(true);
            hectares.setValue(h::Checked);
        } else if (units == h::UnitFeet || units == h::UnitYards) {
            hectares.setCaption("State areas in acres");
            hectares.setEnabled(true);
            hectares.setValue(h::Checked);
        } else {
            hectares.setCaption("State areas in unknown units");
            hectares.setEnabled(false);
            hectares.setValue(h::Unchecked);
        }

        KV_LINE;
        get<h::CommandButton>("cmdBatch").setEnabled(get<h::CommandButton>("cmdOK").enabled());
        KV_LINE;
        PopulateLayerList();
        KV_LINE;
        get<h::OptionButton>("optAppend").setEnabled(false);
        get<h::OptionButton>("optOverwrite").setEnabled(false);
    });
}

void frmSpatialStat::PopulateLayerList() {
    KV_PROCEDURE("PopulateLayerList", Inner).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        lst.clear();
        KV_LINE;
        AddFeatureLayerNames(Map(), lst);
    });
}

void frmSpatialStat::lstLayers_Click() {
    KV_PROCEDURE("lstLayers_Click", TopLevel).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        if (lst.listIndex() < 0) return;   // the selection was cleared
        auto& cbo = get<h::ComboBox>("cboClass");
        KV_LINE;
        h::LayerPtr layer = FindLayerByName(Map(), lst.text());
        KV_LINE;
        PopulateFieldListBox(layer, cbo);

        KV_LINE;
        if (cbo.listCount() > 1) {
            cbo.setListIndex(-1);
            cbo.setText("");
        } else if (cbo.listCount() == 1) {
            cbo.setListIndex(0);
        }

        KV_LINE;
        bool patchArea = false, coreArea = false;
        for (const std::string& entry : cbo.items()) {
            std::string u = upper(entry);
            patchArea = patchArea || u == "PATCH_AREA";
            coreArea = coreArea || u == "CORE_AREA";
        }
        bool available = patchArea && coreArea;
        KV_LINE;
        // Moving between two layers with core fields keeps the user's choice.
        if (available && !get<h::CheckBox>("chkTotalArea").enabled())
            for (const char* name : kCoreBoxes) get<h::CheckBox>(name).setValue(h::Checked);
        KV_LINE;
        for (const char* name : kCoreBoxes) get<h::CheckBox>(name).setEnabled(available);
    });
}

// ---- level, output table, selection buttons ---------------------------------------

void frmSpatialStat::levelChanged() {
    bool landscape = get<h::OptionButton>("optLandscape").value();
    for (const char* name : {"chkShannonsDiversity", "chkShannonsEvenness"}) {
        auto& box = get<h::CheckBox>(name);
        box.setEnabled(landscape);
        box.setValue(landscape ? h::Checked : h::Unchecked);
    }
}

void frmSpatialStat::optClass_Click() {
    KV_PROCEDURE("optClass_Click", TopLevel).run([&] {
        KV_LINE;
        levelChanged();
    });
}

void frmSpatialStat::optLandscape_Click() {
    KV_PROCEDURE("optLandscape_Click", TopLevel).run([&] {
        KV_LINE;
        levelChanged();
    });
}

void frmSpatialStat::GetSaveLocation() {
    KV_PROCEDURE("GetSaveLocation", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.filter = "DBase IV(*.dbf)|*.dbf";
        KV_LINE;
        dlg.showSave();   // Cancel keeps the name the dialog held
        KV_LINE;
        // A name typed relative to the current folder is held as the full
        // path a desktop save dialog hands back: the run, and a batch line
        // replayed later from elsewhere, must mean the same file.
        if (!dlg.fileName.empty() && dlg.fileName.front() != '/')
            dlg.fileName = std::filesystem::absolute(dlg.fileName).lexically_normal().string();
        KV_LINE;
        get<h::TextBox>("txtOutputTableName").setText(dlg.fileName);
    });
}

void frmSpatialStat::txtOutputTableName_Click() {
    KV_PROCEDURE("txtOutputTableName_Click", TopLevel).run([&] {
        KV_LINE;
        GetSaveLocation();
        KV_LINE;
        auto& txt = get<h::TextBox>("txtOutputTableName");
        txt.setText(get<h::CommonDialog>("cmnDlg").fileName);
        KV_LINE;
        bool exists = h::fs::FileExists(txt.text());
        auto& optAppend = get<h::OptionButton>("optAppend");
        auto& optOverwrite = get<h::OptionButton>("optOverwrite");
        // An Overwrite confirmed for one table never carries over to the
        // table chosen now.
        optAppend.setValue(true);
        optAppend.setEnabled(exists);
        optOverwrite.setEnabled(exists);
    });
}

void frmSpatialStat::optOverwrite_Click() {
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

void frmSpatialStat::setAllMetricBoxes(bool checked) {
    for (h::Control* c : controls())
        if (isMetricBox(*c) && c->enabled())
            static_cast<h::CheckBox*>(c)->setValue(checked ? h::Checked : h::Unchecked);
}

void frmSpatialStat::cmdSelectAll_Click() {
    KV_PROCEDURE("cmdSelectAll_Click", TopLevel).run([&] {
        KV_LINE;
        setAllMetricBoxes(true);
    });
}

void frmSpatialStat::cmdSelectNone_Click() {
    KV_PROCEDURE("cmdSelectNone_Click", TopLevel).run([&] {
        KV_LINE;
        setAllMetricBoxes(false);
    });
}

// ---- Run, Add to Batch, Cancel ------------------------------------------------------

void frmSpatialStat::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        if (get<h::ListBox>("lstLayers").listIndex() < 0) {
            MsgBox("A layer must first be chosen", h::mb::OKOnly | h::mb::Exclamation, "Missing Information");
            return;
        }
        KV_LINE;
        if (get<h::ComboBox>("cboClass").text().empty()) {
            MsgBox("A class must first be chosen", h::mb::OKOnly | h::mb::Exclamation, "Missing Information");
            return;
        }
        KV_LINE;
        ExecuteStatistics(false);
    });
}

void frmSpatialStat::cmdBatch_Click() {
    KV_PROCEDURE("cmdBatch_Click", TopLevel).run([&] {
        KV_LINE;
        ExecuteStatistics(true);
    });
}

void frmSpatialStat::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

// ---- the run request -----------------------------------------------------------------

std::vector<std::string> frmSpatialStat::CheckedBoxes() {
    std::vector<std::string> boxes;
    for (h::Control* c : controls())
        if (isMetricBox(*c) && c->enabled() && static_cast<h::CheckBox*>(c)->value() == h::Checked)
            boxes.push_back(c->name());
    if (boxes.empty()) boxes.push_back("NIL");
    return boxes;
}

SpatialStatsRequest frmSpatialStat::request() {
    SpatialStatsRequest r;
    r.ThemeName = get<h::ListBox>("lstLayers").text();
    r.ClassField = get<h::ComboBox>("cboClass").text();
    r.blnRaster = get<h::OptionButton>("optRaster").value();
    r.blnAddNewLayerToMap = get<h::CheckBox>("chkAddToMap").value() == h::Checked;
    r.NewTableFileName = get<h::TextBox>("txtOutputTableName").text();
    r.blnAppend = get<h::OptionButton>("optAppend").value();
    r.CheckedBoxes = CheckedBoxes();
    r.blnLandscape = get<h::OptionButton>("optLandscape").value();
    r.blnAsHectares = get<h::CheckBox>("chkHectares").value() == h::Checked;
    return r;
}

void frmSpatialStat::ExecuteStatistics(bool blnBatch) {
    KV_PROCEDURE("ExecuteStatistics", TopLevel).run([&] {
        KV_LINE;
        if (!KorvaneIniExists()) return;
        // The path that the run would use is the one in the box: after an
        // activation has cleared it, the user is asked for a table again.
        KV_LINE;
        if (get<h::TextBox>("txtOutputTableName").text().empty()) {
            MsgBox("No filename provided for output table", h::mb::Exclamation, "Missing Information");
            return;
        }
        KV_LINE;
        SpatialStatsRequest r = request();

        if (blnBatch) {
            KV_LINE;
            std::string problem = BatchLineProblem(r);
            if (!problem.empty()) {
                MsgBox(problem, h::mb::Exclamation, "Cannot Continue");
                return;
            }
            KV_LINE;
            std::string location = ReadBatchLocation(KorvaneIniPath()).location;
            KV_LINE;
            std::string line = SpatialStatsBatchLine(r) + "\r\n";
            KV_LINE;
            MakeDefaultBatchFolder(location);
            KV_LINE;
            if (h::fs::FileExists(location)) {
                // A hand-edited file may lack its last line end; the new line
                // must not run into the one before it.
                std::ifstream in(location, std::ios::binary | std::ios::ate);
                if (in && in.tellg() > 0) {
                    in.seekg(-1, std::ios::end);
                    if (in.get() != '\n') line = "\r\n" + line;
                }
                in.close();
                KV_LINE;
                std::ofstream out(location, std::ios::binary | std::ios::app);
                if (!out) h::fail(h::err::PermissionDenied, "Korvane", "Permission denied: " + location);
                KV_LINE;
                out << line;
                out.close();
                if (!out) h::fail(h::err::PermissionDenied, "Korvane", "Cannot write " + location);
                return;
            }
            KV_LINE;
            std::ofstream out(location, std::ios::binary | std::ios::trunc);
            if (!out) {
                MsgBox(location + " is an invalid file location.  Please set it to a valid one.\r\n"
                                  "The file location can be set from Korvane - Set and Run Batch Processes",
                       h::mb::Exclamation, "Invalid file location");
                return;
            }
            KV_LINE;
            out << line;
            out.close();
            if (!out) h::fail(h::err::PermissionDenied, "Korvane", "Cannot write " + location);
            return;
        }

        // The Overwrite choice is spent on this run: the next one appends
        // unless the user confirms Overwrite again.
        KV_LINE;
        auto& optAppend = get<h::OptionButton>("optAppend");
        auto& optOverwrite = get<h::OptionButton>("optOverwrite");
        optAppend.setValue(true);
        KV_LINE;
        RunSpatialStats(ArcMapHook(), r.ThemeName, r.ClassField, r.blnRaster, r.blnAddNewLayerToMap,
                        r.NewTableFileName, r.blnAppend, r.CheckedBoxes, r.blnLandscape, r.blnAsHectares);
        KV_LINE;
        bool exists = h::fs::FileExists(get<h::TextBox>("txtOutputTableName").text());
        optAppend.setEnabled(exists);
        optOverwrite.setEnabled(exists);
        KV_LINE;
        get<h::CommandButton>("cmdCancel").setCaption("Done");
    });
}

void frmSpatialStat::RunSpatialStats(h::Application* ArcMapApp, const std::string& ThemeName,
                                     const std::string& ClassField, bool blnRaster, bool blnAddNewLayerToMap,
                                     const std::string& NewTableFileName, bool blnAppend,
                                     const std::vector<std::string>& CheckedBoxes, bool blnLandscape,
                                     bool blnAsHectares) {
    ::kv::RunSpatialStats(ArcMapApp, ThemeName, ClassField, blnRaster, blnAddNewLayerToMap, NewTableFileName,
                          blnAppend, CheckedBoxes, blnLandscape, blnAsHectares, this);
}

}  // namespace kv
