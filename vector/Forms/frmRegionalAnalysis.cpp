// Spatial Analysis by Regions (frmRegionalAnalysis): the vector patch metrics
// of a polygon layer computed region by region into one dBASE table. Each
// region is worked on a trimmed copy of the layer beside the output table;
// the metric values come from the routines of modSpatialStats.
#include "vector/Forms/frmRegionalAnalysis.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <unordered_map>
#include <filesystem>
#include <optional>

#include <fmt/format.h>

#include "host/OutputLock.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/Forms.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmProgress.h"
#include "shared/modMisc.h"
#include "vector/Forms/frmRegionalAnalysisPatches.h"
#include "vector/Forms/frmSpatialStat1Progress.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modRunChecks.h"
#include "vector/Modules/modSpatialStats.h"

KV_MODULE("Forms/frmRegionalAnalysis");

namespace kv {

namespace h = korvane::host;
namespace hfs = korvane::host::fs;

namespace {

constexpr const char* kCRLF = "\r\n";
constexpr const char* kRunTitle = "frmRegionalAnalysis.RunRegionalSpatialStats";

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}
std::string fileOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string withoutExtension(const std::string& file) {
    size_t dot = file.find_last_of('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
}

// Square map units in one hectare or acre; 1 for units without either.
int32_t unitsDivisor(int32_t mapUnits) {
    switch (mapUnits) {
        case h::UnitMeters: return 10000;
        case h::UnitFeet: return 43560;
        case h::UnitYards: return 4840;
        default: return 1;
    }
}

// The working copy goes when the run ends, however it ends.
struct CopyGuard {
    std::string folder, name;
    ~CopyGuard() {
        if (name.empty()) return;
        try {
            h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
            if (ws.exists(name)) ws.deleteDataset(name);
        } catch (...) {
        }
    }
};

}  // namespace

const std::vector<std::string>& frmRegionalAnalysis::MetricList() {
    static const std::vector<std::string> list{"CA", "TLA", "NumP", "MPS", "MedPS", "PSCoV", "PSSD", "TE",
                                               "ED", "MPE", "MSI", "AWMSI", "MPAR", "MPFD", "AWMPFD"};
    return list;
}

// ---- design ----------------------------------------------------------------------------

void frmRegionalAnalysis::design() {
    setCaption("Spatial Analysis by Regions");
    width = 5895;
    height = 5475;
    borderSizable = false;

    auto label = [&](const char* name, const char* caption, int32_t l, int32_t t, int32_t w) -> h::Label& {
        auto& lbl = add<h::Label>(name);
        lbl.setCaption(caption);
        lbl.move(l, t, w, 255);
        return lbl;
    };
    label("Label1", "Layers", 120, 120, 1455);
    auto& lst = add<h::ListBox>("lstLayers");
    lst.move(120, 360, 5535, 1425);

    label("lblClass", "Class", 120, 1920, 1215);
    auto& cls = add<h::ComboBox>("cboClass");
    cls.move(1440, 1920, 2535, 315);
    label("Label3", "Region", 120, 2400, 1215);
    auto& region = add<h::ComboBox>("cboRegion");
    region.move(1440, 2400, 2535, 315);

    label("Label4", "Output Table Name", 120, 2880, 2535);
    auto& table = add<h::TextBox>("txtTableName");
    table.locked = true;   // chosen through the save dialog
    table.move(120, 3120, 5535, 285);

    auto& level = add<h::Frame>("Frame1");
    level.setCaption("Analysis Level");
    level.move(4080, 1800, 1575, 975);
    auto& optClass = add<h::OptionButton>("optClass");
    optClass.setCaption("Class");
    optClass.setContainer(&level);
    optClass.move(120, 300, 1335, 255);
    auto& optLandscape = add<h::OptionButton>("optLandscape");
    optLandscape.setCaption("Landscape");
    optLandscape.setContainer(&level);
    optLandscape.move(120, 600, 1335, 255);
    optClass.setValue(true);

    auto& status = add<h::Frame>("Frame2");
    status.setCaption("Processing Status");
    status.move(120, 3600, 5535, 975);
    auto& lblStatus = label("lblStatus", "Idle", 120, 300, 5295);
    lblStatus.setContainer(&status);
    lblStatus.height = 555;

    auto button = [&](const char* name, const char* caption, int32_t l) -> h::CommandButton& {
        auto& b = add<h::CommandButton>(name);
        b.setCaption(caption);
        b.move(l, 4800, 1215, 375);
        return b;
    };
    auto& ok = button("cmdOK", "Run", 3120);
    auto& cancel = button("cmdCancel", "Close", 4440);
    add<h::CommonDialog>("cmnDlg");

    int32_t tab = 0;
    for (const char* name : {"lstLayers", "cboClass", "cboRegion", "optClass", "optLandscape", "txtTableName",
                             "cmdOK", "cmdCancel"})
        get<h::Control>(name).tabIndex = tab++;
    for (h::Control* c : controls())
        if (!c->focusable()) c->tabIndex = tab++;

    lst.onClick = [this] { lstLayers_Click(); };
    optClass.onClick = [this] { optClass_Click(); };
    optLandscape.onClick = [this] { optLandscape_Click(); };
    table.onClick = [this] { txtTableName_Click(); };
    ok.onClick = [this] { cmdOK_Click(); };
    cancel.onClick = [this] { cmdCancel_Click(); };
}

// ---- properties, loading and the controls -------------------------------------------------

h::MapPtr frmRegionalAnalysis::Map() {
    h::MapPtr result;
    KV_PROCEDURE("Map", TopLevel).run([&] {
        KV_LINE;
        result = hookFocusMap();
    });
    return result;
}

void frmRegionalAnalysis::setStatus(const std::string& text) {
    get<h::Label>("lblStatus").setCaption(text);
    refresh();
}

void frmRegionalAnalysis::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        PopulateLayerList();
        KV_LINE;
        get<h::TextBox>("txtTableName").setText("");
        KV_LINE;
        setStatus("Idle");
    });
}

void frmRegionalAnalysis::PopulateLayerList() {
    KV_PROCEDURE("PopulateLayerList", Inner).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        lst.clear();
        KV_LINE;
        AddFeatureLayerNames(Map(), lst);
    });
}

void frmRegionalAnalysis::lstLayers_Click() {
    KV_PROCEDURE("lstLayers_Click", TopLevel).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        if (lst.listIndex() < 0) return;   // the selection was cleared
        KV_LINE;
        h::LayerPtr layer = FindLayerByName(Map(), lst.text());
        auto& cls = get<h::ComboBox>("cboClass");
        KV_LINE;
        PopulateFieldListBox(layer, cls);
        auto& region = get<h::ComboBox>("cboRegion");
        KV_LINE;
        region.clear();
        for (int32_t i = 0; i < cls.listCount(); ++i) region.addItem(cls.list(i));
    });
}

// Both level buttons: the class field is offered at class level only.
void frmRegionalAnalysis::LevelChanged(const char* procedure) {
    ::kv::Procedure kvProc_(procedure, kvModulePath_, TopLevel);
    kvProc_.run([&] {
        KV_LINE;
        bool classLevel = get<h::OptionButton>("optClass").value();
        get<h::Label>("lblClass").setEnabled(classLevel);
        get<h::ComboBox>("cboClass").setEnabled(classLevel);
    });
}

void frmRegionalAnalysis::optClass_Click() { LevelChanged("optClass_Click"); }
void frmRegionalAnalysis::optLandscape_Click() { LevelChanged("optLandscape_Click"); }

void frmRegionalAnalysis::GetSaveLocation() {
    KV_PROCEDURE("GetSaveLocation", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.flags = h::CommonDialog::OverwritePrompt;
        dlg.filter = "DBase IV(*.dbf)|*.dbf";
        const std::string before = dlg.fileName;
        KV_LINE;
        dlg.showSave();   // Cancel keeps the name the dialog held
        // A name typed relative to the current folder is held as the full
        // path: the run works in the table's folder.
        KV_LINE;
        if (!dlg.fileName.empty() && dlg.fileName.front() != '/')
            dlg.fileName = std::filesystem::absolute(dlg.fileName).lexically_normal().string();
        // The overwrite question that the dialog's flag asks for, put here
        // because the host's file chooser hands back any name.
        KV_LINE;
        if (dlg.fileName != before && !MayReplace(dlg.fileName)) dlg.fileName = before;
        KV_LINE;
        get<h::TextBox>("txtTableName").setText(dlg.fileName);
    });
}

void frmRegionalAnalysis::txtTableName_Click() {
    KV_PROCEDURE("txtTableName_Click", TopLevel).run([&] {
        KV_LINE;
        GetSaveLocation();
        KV_LINE;
        get<h::TextBox>("txtTableName").setText(get<h::CommonDialog>("cmnDlg").fileName);
    });
}

void frmRegionalAnalysis::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

// ---- Run ---------------------------------------------------------------------------------

// What the stages of one Run share.
struct frmRegionalAnalysis::RegionalRun {
    explicit RegionalRun(Procedure& proc) : kvProc_(proc) {}
    Procedure& kvProc_;   // the click's handler: KV_LINE marks its line
    bool classLevel = false;
    std::string classField, regionField, layerName, tablePath;
    h::LayerPtr layer;
    std::vector<h::Value> regions, classes;
    int64_t nullRegions = 0, nullClasses = 0;
    AreaAndPerimeter written;
    std::unique_ptr<RegionalPatches> grouped;
    // The one pass over the source, where it could be made.
    std::optional<RegionalPass> pass;
};

void frmRegionalAnalysis::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        RegionalRun run(kvProc_);
        if (!ReadRegionalChoices(run) || !CheckRegionalRun(run)) return setStatus("Idle");
        // Patches whose region or class value is null belong to no row.
        CountNullValues(run);

        KV_LINE;
        setStatus("Calculating area and perimeter on source layer");
        KV_LINE;
        RefreshAreaAndPerimeter(run);

        // A long run shows how far it has come in a progress window beside
        // the dialog: the pass over the patches, then the regions.
        frmProgress progressWindow;
        h::SetWindowLongA(progressWindow.hWnd(), h::GWL_HWNDPARENT, hWnd());
        ShowForm(progressWindow, false);
        struct CloseProgress {
            frmProgress& window;
            ~CloseProgress() {
                try {
                    if (window.loaded()) window.unload();
                } catch (...) {
                }
            }
        } closeProgress{progressWindow};
        ProgressSteps progress(progressWindow);
        if (!searchEachRegion) GroupRegionalPatches(run, progressWindow, progress);
        if (!WriteRegionalRows(run, progressWindow, progress)) return setStatus("Idle");
        ReportNullsLeftOut(run.nullClasses, run.nullRegions);
    });
}

bool frmRegionalAnalysis::ReadRegionalChoices(RegionalRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    KV_LINE;
    setStatus("Initializing");
    run.classLevel = get<h::OptionButton>("optClass").value();
    run.classField = get<h::ComboBox>("cboClass").text();
    run.regionField = get<h::ComboBox>("cboRegion").text();
    KV_LINE;
    h::MapPtr map = ArcMapHook()->document()->focusMap();
    run.layerName = get<h::ListBox>("lstLayers").text();
    KV_LINE;
    run.layer = FindLayerByName(map, run.layerName);

    // Without these choices every later step would fail on its own.
    auto missing = [&](const char* text) {
        MsgBox(text, h::mb::Exclamation, "Missing Information");
        return false;
    };
    if (!run.layer) return missing("A layer must first be chosen");
    if (run.regionField.empty()) return missing("A region field must first be chosen");
    if (run.classLevel && run.classField.empty()) return missing("A class must first be chosen");

    KV_LINE;
    setStatus("Initializing - Creating list of region values");
    // One read of the source gives the lists, the null values and the
    // patches, and refreshes Area and Perimeter in an edit session that is
    // put in place only after the questions and checks below.
    KV_LINE;
    if (auto fl = std::dynamic_pointer_cast<h::FeatureLayer>(run.layer); fl && fl->featureClass())
        run.pass = ReadRegionalLayer(*fl->featureClass(), run.classLevel ? run.classField : std::string{},
                                     run.regionField);
    KV_LINE;
    run.regions = run.pass ? run.pass->regions : GetClassList(run.layer, run.regionField);
    KV_LINE;
    ArraySort(run.regions, std::nullopt, false);
    if (run.classLevel) {
        KV_LINE;
        setStatus("Initializing - Creating list of class values");
        KV_LINE;
        run.classes = run.pass ? run.pass->classes : GetClassList(run.layer, run.classField);
        KV_LINE;
        ArraySort(run.classes, std::nullopt, false);
    }

    auto goOn = [&](const std::string& text, const char* title) {
        return MsgBox(text, h::mb::YesNo, title) == h::mb::Yes;
    };
    KV_LINE;
    if (run.regions.size() > 50 &&
        !goOn(std::string("Regions field has more than 50 unique records.") + kCRLF + "CONTINUE?", "Regions Count"))
        return false;
    KV_LINE;
    if (run.regions.size() <= 1 &&
        !goOn(std::string("Regions field has 1 or less unique records.") + kCRLF + "CONTINUE?", "Regions Count"))
        return false;
    KV_LINE;
    if (run.classLevel && run.classes.size() <= 1 &&
        !goOn(std::string("Class field has 1 or less unique records.") + kCRLF + "CONTINUE?", "Class Count"))
        return false;
    KV_LINE;
    if (get<h::CommonDialog>("cmnDlg").fileName.empty()) {
        MsgBox("No filename provided for output table", h::mb::Exclamation, "Missing Information");
        return false;
    }
    return true;
}

bool frmRegionalAnalysis::CheckRegionalRun(RegionalRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // Everything that would stop the run is refused here, before the
    // source layer is touched.
    run.tablePath = get<h::TextBox>("txtTableName").text();
    auto refuse = [&](const std::string& text) {
        MsgBox(text, h::mb::Exclamation, "Cannot Continue");
        return false;
    };
    KV_LINE;
    if (run.classLevel) {
        for (const char* column : {"Class", "RunDate"}) {
            if (h::sameFieldName(run.regionField, column))
                return refuse("The region field '" + run.regionField + "' has the name of a column of the output "
                              "table (RunDate, Class).  Copy the regions to a field of another name.  Cannot "
                              "continue.");
        }
    }
    auto source = std::dynamic_pointer_cast<h::FeatureLayer>(run.layer);
    const bool textRegions =
        source && source->featureClass() && source->featureClass()->findField(run.regionField) >= 0 &&
        source->featureClass()->fields().field(source->featureClass()->findField(run.regionField)).type ==
            h::FieldString;
    // Values the 40-byte text columns could not tell apart.
    std::string clash = CutValueClash(run.classLevel ? run.classes : run.regions, 40, "Class");
    if (clash.empty() && run.classLevel && textRegions) clash = CutValueClash(run.regions, 40, run.regionField);
    if (!clash.empty()) return refuse(clash);
    KV_LINE;
    if (hfs::FileExists(run.tablePath)) {
        h::TablePtr existing;
        try {
            existing = h::ShapefileWorkspace::open(folderOf(run.tablePath)).openTable(fileOf(run.tablePath));
        } catch (const h::Failure&) {
        }
        if (existing && !existing->canDelete()) {
            MsgBox("Cannot delete " + run.tablePath, h::mb::Exclamation, "Cannot Overwrite File");
            return false;
        }
    }
    KV_LINE;
    if (source && source->featureClass() && IsGeographicLayer(*source->featureClass()) &&
        !ConfirmGeographicLayer(run.layerName))
        return false;
    return true;
}

void frmRegionalAnalysis::CountNullValues(RegionalRun& run) {
    if (run.pass) {
        run.nullRegions = run.pass->nullRegions;
        run.nullClasses = run.pass->nullClasses;
        return;
    }
    auto source = std::dynamic_pointer_cast<h::FeatureLayer>(run.layer);
    if (!source || !source->featureClass()) return;
    const int32_t regionAt = source->featureClass()->findField(run.regionField);
    const int32_t classAt = run.classLevel ? source->featureClass()->findField(run.classField) : -1;
    h::Cursor all = source->featureClass()->search(nullptr, true);
    while (h::RowPtr f = all.next()) {
        if (regionAt >= 0 && h::isNull(f->value(regionAt)))
            ++run.nullRegions;
        else if (classAt >= 0 && h::isNull(f->value(classAt)))
            ++run.nullClasses;
    }
}

void frmRegionalAnalysis::RefreshAreaAndPerimeter(RegionalRun& run) {
    if (!run.pass) return AddAreaAndPerimFields(run.layer, true, &run.written);
    // The one pass's refresh put in place. A failure is reported and the run
    // goes on as after a failed refresh stage: the fields are still missing,
    // so the patches keep the areas and perimeters measured from the shapes.
    KV_PROCEDURE("RefreshAreaAndPerimeter", TopLevel).run([&] {
        KV_LINE;
        run.pass->refresh->commit();
    });
}

void frmRegionalAnalysis::GroupRegionalPatches(RegionalRun& run, frmProgress& progressWindow,
                                               ProgressSteps& progress) {
    Procedure& kvProc_ = run.kvProc_;
    KV_LINE;
    auto fl = std::dynamic_pointer_cast<h::FeatureLayer>(run.layer);
    if (!fl || !fl->featureClass()) h::failObjectNotSet();
    h::FeatureClass& source = *fl->featureClass();
    if (source.findField(run.classLevel ? run.classField : run.regionField) >= 0 &&
        (!run.classLevel || source.findField(run.regionField) >= 0)) {
        progressWindow.lblProgress().setCaption("Grouping the patches by region and class");
        progress.start(source.rowCount());
        if (run.pass && run.pass->grouped) {  // grouped by the one pass already
            progress.step(run.pass->rows);
            run.grouped = std::move(run.pass->grouped);
            return;
        }
        KV_LINE;
        run.grouped = GroupPatches(source, run.classLevel ? run.classField : run.regionField,
                                   run.classLevel ? run.regionField : std::string{}, false, &run.written, progress);
    }
}

bool frmRegionalAnalysis::WriteRegionalRows(RegionalRun& run, frmProgress& progressWindow, ProgressSteps& progress) {
    Procedure& kvProc_ = run.kvProc_;
    // Every region's rows go to one new table under a temporary name,
    // put in place of the old one once, after the last region.
    KV_LINE;
    h::OutputLock tableLock(std::filesystem::path(folderOf(run.tablePath)) /
                            (withoutExtension(fileOf(run.tablePath)) + ".dbf"));
    h::DatasetReplacement next(h::ShapefileWorkspace::open(folderOf(run.tablePath)),
                               withoutExtension(fileOf(run.tablePath)), false);
    const std::string workPath = next.temporaryPath(".dbf");
    const std::vector<std::string>& metrics = MetricList();
    h::TablePtr openTable;
    progressWindow.lblProgress().setCaption("Writing the rows of each region");
    if (run.classLevel) {
        const size_t n = run.regions.size();
        progress.start(static_cast<int64_t>(n));
        KV_LINE;
        setStatus(fmt::format("Processing  --  {} = {}   (0% complete)", run.regionField,
                              n ? h::toText(run.regions[0]) : std::string{}));
        for (size_t i = 0; i < n; ++i) {
            KV_LINE;
            bool haveTable = RunRegionalSpatialStats(ArcMapHook(), run.layerName, run.classField, false, workPath,
                                                     i > 0, metrics, false, false, run.regionField, run.regions[i],
                                                     run.grouped.get());
            // A table that could not be made must not be replaced by an
            // older one of that name for the regions that follow.
            if (!haveTable) return false;
            // Held open while the regions go on, so that each region's
            // call finds it open instead of opening the file again.
            if (!openTable && hfs::FileExists(workPath)) openTable = h::Table::open(workPath);
            KV_LINE;
            setStatus(fmt::format("Processing  --  {} = {}   ({}% complete)", run.regionField,
                                  h::toText(run.regions[i]), static_cast<int64_t>((i + 1) * 100 / n)));
            progress.step();
        }
    } else {
        KV_LINE;
        if (!RunRegionalSpatialStats(ArcMapHook(), run.layerName, run.regionField, false, workPath, false, metrics,
                                     true, false, "", h::Value{}, run.grouped.get()))
            return false;
    }
    openTable.reset();
    KV_LINE;
    h::TablePtr table = next.commit();
    KV_LINE;
    setStatus("FINISHED");
    KV_LINE;
    Add_Table_TOC(table);
    progressWindow.unload();
    return true;
}

// ---- the run -------------------------------------------------------------------------------

namespace {

// The rows of one region (the whole layer in landscape mode): one per class
// present, with the run date, the class, the region and the metric values.
void StoreRegionRows(Procedure& kvProc_, h::Table& table, const Region* region, const std::vector<h::Value>& classes,
                     const std::vector<Metric>& codes, const std::vector<std::string>& metrics, bool blnLandscape,
                     const std::string& strRegionField, const h::Value& regionValue, const MetricScope& scope) {
    static const std::map<int32_t, PatchGroup> kNoClasses;
    // The row's fields, found once for the region's rows (a missing one
    // fails where a value is set, by its name).
    auto set = [](h::Row& row, int32_t at, const std::string& name, h::Value v) {
        if (at >= 0)
            row.setValue(at, std::move(v));
        else
            row.setValue(name, std::move(v));
    };
    const int32_t runDateAt = table.findField("RunDate");
    const int32_t classAt = table.findField("Class");
    const int32_t regionAt = blnLandscape ? -1 : table.findField(strRegionField);
    const int32_t tlaAt = table.findField("TLA");
    const int32_t teAt = table.findField("TE");
    std::vector<int32_t> metricAt;
    for (const std::string& code : metrics) metricAt.push_back(table.findField(code));
    for (const auto& [at, group] : region ? region->byClass : kNoClasses) {
        const h::Value& classValue = classes[static_cast<size_t>(at)];
        KV_LINE;
        h::RowPtr row = table.createRow();
        set(*row, runDateAt, "RunDate", RunDateNow());
        set(*row, classAt, "Class", classValue);
        if (!blnLandscape) set(*row, regionAt, strRegionField, regionValue);
        for (size_t k = 0; k < codes.size(); ++k) {
            KV_LINE;
            double v = 0;
            if (codes[k] == Metric::ED) {
                // From the row's stored TE and TLA; a region without
                // area has no edge density to speak of.
                auto stored = [&](int32_t field) {
                    const h::Value* value = field < 0 ? nullptr : &row->value(field);
                    return (!value || h::isNull(*value)) ? 0.0 : h::toDouble(*value);
                };
                double area = stored(tlaAt);
                v = area == 0 ? 0 : stored(teAt) / area;
            } else {
                v = group.value(codes[k], scope);
            }
            KV_LINE;
            set(*row, metricAt[k], metrics[k], v);
        }
        KV_LINE;
        row->store();
    }
}

}  // namespace

bool frmRegionalAnalysis::RunRegionalSpatialStats(h::Application* app, const std::string& strLayerName,
                                                  const std::string& strClassField, bool blnRaster,
                                                  const std::string& strTableName, bool blnAppend,
                                                  const std::vector<std::string>& metrics, bool blnLandscape,
                                                  bool blnAsHectares, const std::string& strRegionField,
                                                  const h::Value& regionValue, const RegionalPatches* grouped) {
    bool result = false;
    KV_PROCEDURE("RunRegionalSpatialStats", Inner).run([&] {
        KV_LINE;
        h::MapPtr map = app->document()->focusMap();
        KV_LINE;
        auto layer = std::dynamic_pointer_cast<h::FeatureLayer>(FindLayerByName(map, strLayerName));
        if (!layer) {
            MsgBox("Layer '" + strLayerName + "' could not be found on map." + kCRLF + "Cannot continue",
                   h::mb::Exclamation, "Missing Data");
            return;
        }
        KV_LINE;
        h::FeatureClass& source = *layer->featureClass();
        if (source.findField(strClassField) < 0) {
            MsgBox("Could not find class field '" + strClassField + "' in layer '" + strLayerName + "'." + kCRLF +
                       "Cannot continue.",
                   h::mb::Exclamation, "Missing Field");
            return;
        }
        if (!blnLandscape && source.findField(strRegionField) < 0) {
            MsgBox("Could not find region field '" + strRegionField + "' in layer '" + strLayerName + "'." + kCRLF +
                       "Cannot continue.",
                   h::mb::Exclamation, "Missing Field");
            return;
        }

        const std::string folder = folderOf(strTableName);
        // The region's patches: from the one pass over the layer, or from a
        // search of a working copy made for this region.
        h::FeatureClassPtr copy;
        std::optional<CopyGuard> guard;
        h::LayerPtr searched;
        std::vector<h::Value> classes;
        const h::Fields* fields = &source.fields();
        if (grouped) {
            KV_LINE;
            h::ShapefileWorkspace::open(folder);
            if (!source.canCopy()) {
                MsgBox("There is a copy restriction on this shapefile.  Could not create a copy.", h::mb::Critical,
                       "Shapefile Copy Failed");
                return;
            }
            searched = layer;
            classes = grouped->classes.values();
        } else {
            KV_LINE;
            copy = CopyAndRemoveFields(folder, source, strClassField, blnLandscape ? std::string{} : strRegionField);
            if (!copy) return;
            guard.emplace();  // built in place: a moved-from guard would delete the copy
            guard->folder = folder;
            guard->name = copy->name();
            searched = std::make_shared<h::FeatureLayer>(copy, copy->name());
            fields = &copy->fields();
            KV_LINE;
            classes = GetClassList(searched, strClassField);
        }
        KV_LINE;
        std::optional<h::FieldDef> regionDef;
        if (!blnLandscape) regionDef = fields->field(fields->find(strRegionField));
        const int32_t divisor = blnAsHectares ? unitsDivisor(map->mapUnits()) : 1;

        KV_LINE;
        h::TablePtr table;
        if (blnAppend)
            table = GetOutputTable(strTableName);
        else if (blnLandscape)
            table = CreateOutputTable(strTableName, "", h::FieldInteger);
        else
            table = CreateOutputTable(strTableName, strRegionField,
                                      regionDef->type == h::FieldString ? h::FieldString : regionDef->type);
        if (!table) return;
        result = true;
        KV_LINE;
        AddOtherFields(*table, metrics);
        std::vector<Metric> codes;
        for (const std::string& code : metrics) {
            Metric m;
            if (!MetricOfCode(code, m)) h::fail(h::err::HostInvalidArg, "Korvane", "Unknown metric code " + code);
            codes.push_back(m);
        }

        std::string regionClause;
        if (!blnLandscape) regionClause = ClassWhereClause(strRegionField, regionValue, regionDef->type == h::FieldString);
        KV_LINE;
        std::optional<h::Cursor> patches = getCursor(searched, regionClause);
        if (!patches) {
            MsgBox("Unable to search the layer.", h::mb::Critical, kRunTitle);
            return;
        }
        Region searchedRegion;
        const Region* region = &searchedRegion;
        if (grouped) {
            region = grouped->find(regionValue);
        } else {
            // One pass over the region (the whole copy in landscape mode)
            // gathers every class's patches in object-id order, as a search
            // per class would hand them to the metric routines.
            ClassIndex classIndex;
            for (const h::Value& v : classes) classIndex.add(v);
            RegionalPatchReader reader(*fields, strClassField, strRegionField, blnRaster, nullptr);
            const int32_t classAt = fields->find(strClassField);
            KV_LINE;
            while (h::RowPtr f = patches->next()) addPatch(searchedRegion, classIndex, f->value(classAt), reader.read(*f));
        }
        patches.reset();

        MetricScope scope;
        scope.divisor = divisor;
        scope.landscapeArea = region ? region->area : 0;
        StoreRegionRows(kvProc_, *table, region, classes, codes, metrics, blnLandscape, strRegionField, regionValue,
                        scope);
        KV_LINE;
        table->flush();
    });
    return result;
}

h::FeatureClassPtr frmRegionalAnalysis::CopyAndRemoveFields(const std::string& strDirectory,
                                                            h::FeatureClass& fcOriginal,
                                                            const std::string& ClassField,
                                                            const std::string& RegionField) {
    h::FeatureClassPtr result;
    KV_PROCEDURE("CopyAndRemoveFields", TopLevel).run([&] {
        KV_LINE;
        h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(strDirectory);
        if (!fcOriginal.canCopy()) {
            MsgBox("There is a copy restriction on this shapefile.  Could not create a copy.", h::mb::Critical,
                   "Shapefile Copy Failed");
            return;
        }
        KV_LINE;
        // The copy is never kept: it bears a marked temporary name, so that
        // a killed run leaves nothing a user could take for a dataset.
        const std::string name =
            h::temporaryNameFor(std::filesystem::path(strDirectory) / (fcOriginal.name() + ".shp")).stem().string();
        KV_LINE;
        auto copy = std::dynamic_pointer_cast<h::FeatureClass>(ws.copyDataset(fcOriginal, name));
        if (!copy) h::fail(h::err::HostGeneric, "Korvane", "The copy is not a feature class.");
        CopyGuard guard{strDirectory, name};   // until the copy is complete
        for (const char* ext : {".dbf", ".shp", ".shx", ".sbn", ".sbx", ".prj"}) {
            std::string file = strDirectory + "/" + name + ext;
            KV_LINE;
            if (hfs::FileExists(file)) hfs::SetReadOnly(file, false);
        }
        std::vector<std::string> surplus;
        const std::string classUpper = upper(ClassField), regionUpper = upper(RegionField);
        for (const h::FieldDef& f : copy->fields().all()) {
            std::string u = upper(f.name);
            if (u != "SHAPE" && u != "FID" && u != "FD" && u != "AREA" && u != "PERIMETER" && u != "PATCH_AREA" &&
                u != "CORE_AREA" && u != classUpper && u != regionUpper)
                surplus.push_back(f.name);
        }
        for (const std::string& field : surplus) {
            KV_LINE;
            copy->deleteField(field);
        }
        guard.name.clear();
        result = copy;
    });
    return result;
}

// ---- the table -------------------------------------------------------------------------------

h::TablePtr frmRegionalAnalysis::CreateOutputTable(const std::string& path, const std::string& regionField,
                                                   int32_t regionFieldType) {
    std::vector<h::FieldDef> fields;
    fields.push_back({"RunDate", h::FieldString, 25, 0, 0});
    if (!regionField.empty()) {
        if (regionFieldType == h::FieldString)
            fields.push_back({regionField, h::FieldString, 40, 0, 0});
        else if (regionFieldType == h::FieldSingle || regionFieldType == h::FieldDouble)
            // Whole numbers would merge regions such as 1.25 and 1.5.
            fields.push_back({regionField, h::FieldDouble, 0, 0, 0});
        else
            fields.push_back({regionField, h::FieldInteger, 0, 0, 0});
    }
    fields.push_back({"Class", h::FieldString, 40, 0, 0});

    const std::string folder = folderOf(path);
    const std::string name = withoutExtension(fileOf(path));
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
    if (hfs::FileExists(path)) {
        h::TablePtr existing;
        try {
            existing = ws.openTable(fileOf(path));
        } catch (...) {
        }
        if (!existing) {
            MsgBox("Cannot access " + path + kCRLF + "File may be opened somewhere else", h::mb::Exclamation,
                   "File Access Error");
            return nullptr;
        }
        if (!existing->canDelete()) {
            MsgBox("Cannot delete " + path, h::mb::Exclamation, "Cannot Overwrite File");
            return nullptr;
        }
        existing.reset();
        ws.deleteDataset(fileOf(path));
    }
    return ws.createTable(name, fields);
}

h::TablePtr frmRegionalAnalysis::GetOutputTable(const std::string& path) {
    h::TablePtr result;
    KV_PROCEDURE("GetOutputTable", Inner).run([&] {
        KV_LINE;
        if (hfs::FileExists(path)) {
            KV_LINE;
            result = h::ShapefileWorkspace::open(folderOf(path)).openTable(fileOf(path));
            return;
        }
        MsgBox(fileOf(path) + " could not be opened.", h::mb::Critical, "frmRegionalAnalysis.GetOutputTable");
    });
    return result;
}

void frmRegionalAnalysis::AddOtherFields(h::Table& table, const std::vector<std::string>& names) {
    KV_PROCEDURE("AddOtherFields", Inner).run([&] {
        for (const std::string& name : names) {
            KV_LINE;
            if (table.findField(name) < 0) table.addField({name, h::FieldSingle, 0, 30, 16});
        }
    });
}

void frmRegionalAnalysis::Add_Table_TOC(const h::TablePtr& table) {
    KV_PROCEDURE("Add_Table_TOC", Inner).run([&] {
        KV_LINE;
        h::MapPtr map = ArcMapHook()->document()->focusMap();
        auto entry = std::make_shared<h::StandaloneTable>(table->name(), table->path());
        entry->table = table;
        KV_LINE;
        map->addTable(entry);
    });
}

}  // namespace kv
