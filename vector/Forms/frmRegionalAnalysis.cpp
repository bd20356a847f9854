// Spatial Analysis by Regions (frmRegionalAnalysis): the vector patch metrics
// of a polygon layer computed region by region into one dBASE table. Each
// region is worked on a trimmed copy of the layer beside the output table;
// the metric values come from the routines of modSpatialStats.
#include "vector/Forms/frmRegionalAnalysis.h"

#include <ctime>
#include <filesystem>
#include <optional>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Modules/modMisc.h"
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

// The patches of one class in a region, in object-id order, with their
// per-patch values; the metric values follow the routines of modSpatialStats
// over a cursor of the same patches.
struct RegionPatches {
    std::vector<double> areas, perimeters, shapeIndex, perimAreaRatio, fractalDimension;

    static double sum(const std::vector<double>& v) {
        double s = 0;
        for (double x : v) s += x;
        return s;
    }
    static double mean(const std::vector<double>& v) { return v.empty() ? 0 : sum(v) / static_cast<double>(v.size()); }

    // The metric of the code; areas divided and ratios to area multiplied by d.
    double metric(const std::string& code, int32_t d) const {
        const double n = static_cast<double>(areas.size());
        const double total = sum(areas);
        double squares = 0;
        for (double a : areas) squares += a * a;
        if (code == "CA") return total / d;
        if (code == "NumP") return n;
        if (code == "MPS") return mean(areas) / d;
        if (code == "MedPS") {
            std::vector<double> sorted = areas;
            return Median(sorted) / d;
        }
        if (code == "PSSD") return PopulationSD(n, squares, total) / d;
        if (code == "PSCoV") {
            double m = mean(areas);
            return m != 0 ? PopulationSD(n, squares, total) / m * 100 : 0;
        }
        if (code == "TE") return sum(perimeters);
        if (code == "MPE") return mean(perimeters);
        if (code == "MSI") return mean(shapeIndex);
        if (code == "AWMSI") return WeightedMean(areas, shapeIndex, total);
        if (code == "MPAR") return mean(perimAreaRatio) * d;
        if (code == "MPFD") return mean(fractalDimension);
        if (code == "AWMPFD") return WeightedMean(areas, fractalDimension, total);
        h::fail(h::err::HostInvalidArg, "Korvane", "Unknown metric code " + code);
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
        if (dlg.fileName != before && hfs::FileExists(dlg.fileName) &&
            MsgBox(dlg.fileName + " already exists.\r\nDo you want to replace it?",
                   h::mb::YesNo | h::mb::Exclamation | h::mb::DefaultButton2, "Save As") != h::mb::Yes)
            dlg.fileName = before;
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

void frmRegionalAnalysis::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        setStatus("Initializing");
        const std::vector<std::string>& metrics = MetricList();
        const bool classLevel = get<h::OptionButton>("optClass").value();
        const std::string classField = get<h::ComboBox>("cboClass").text();
        const std::string regionField = get<h::ComboBox>("cboRegion").text();
        KV_LINE;
        h::MapPtr map = ArcMapHook()->document()->focusMap();
        const std::string layerName = get<h::ListBox>("lstLayers").text();
        KV_LINE;
        h::LayerPtr layer = FindLayerByName(map, layerName);

        // Without these choices every later step would fail on its own.
        auto missing = [&](const char* text) {
            MsgBox(text, h::mb::Exclamation, "Missing Information");
            setStatus("Idle");
        };
        if (!layer) return missing("A layer must first be chosen");
        if (regionField.empty()) return missing("A region field must first be chosen");
        if (classLevel && classField.empty()) return missing("A class must first be chosen");

        KV_LINE;
        setStatus("Initializing - Creating list of region values");
        KV_LINE;
        std::vector<h::Value> regions = GetClassList(layer, regionField);
        KV_LINE;
        ArraySort(regions, std::nullopt, false);
        std::vector<h::Value> classes;
        if (classLevel) {
            KV_LINE;
            setStatus("Initializing - Creating list of class values");
            KV_LINE;
            classes = GetClassList(layer, classField);
            KV_LINE;
            ArraySort(classes, std::nullopt, false);
        }

        auto goOn = [&](const std::string& text, const char* title) {
            return MsgBox(text, h::mb::YesNo, title) == h::mb::Yes;
        };
        KV_LINE;
        if (regions.size() > 50 &&
            !goOn(std::string("Regions field has more than 50 unique records.") + kCRLF + "CONTINUE?", "Regions Count"))
            return setStatus("Idle");
        KV_LINE;
        if (regions.size() <= 1 &&
            !goOn(std::string("Regions field has 1 or less unique records.") + kCRLF + "CONTINUE?", "Regions Count"))
            return setStatus("Idle");
        KV_LINE;
        if (classLevel && classes.size() <= 1 &&
            !goOn(std::string("Class field has 1 or less unique records.") + kCRLF + "CONTINUE?", "Class Count"))
            return setStatus("Idle");
        KV_LINE;
        if (get<h::CommonDialog>("cmnDlg").fileName.empty()) {
            MsgBox("No filename provided for output table", h::mb::Exclamation, "Missing Information");
            return setStatus("Idle");
        }

        KV_LINE;
        setStatus("Calculating area and perimeter on source layer");
        KV_LINE;
        AddAreaAndPerimFields(layer, true);

        const std::string tablePath = get<h::TextBox>("txtTableName").text();
        if (classLevel) {
            const size_t n = regions.size();
            KV_LINE;
            setStatus(fmt::format("Processing  --  {} = {}   (0% complete)", regionField,
                                  n ? h::toText(regions[0]) : std::string{}));
            for (size_t i = 0; i < n; ++i) {
                KV_LINE;
                bool haveTable = RunRegionalSpatialStats(ArcMapHook(), layerName, classField, false, tablePath,
                                                         i > 0, metrics, false, false, regionField, regions[i]);
                // A table that could not be made must not be replaced by an
                // older one of that name for the regions that follow.
                if (!haveTable) return setStatus("Idle");
                KV_LINE;
                setStatus(fmt::format("Processing  --  {} = {}   ({}% complete)", regionField,
                                      h::toText(regions[i]), static_cast<int64_t>((i + 1) * 100 / n)));
            }
        } else {
            KV_LINE;
            if (!RunRegionalSpatialStats(ArcMapHook(), layerName, regionField, false, tablePath, false, metrics,
                                         true, false, "", h::Value{}))
                return setStatus("Idle");
        }
        KV_LINE;
        setStatus("FINISHED");
        KV_LINE;
        h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folderOf(tablePath));
        KV_LINE;
        h::TablePtr table = ws.openTable(fileOf(tablePath));
        KV_LINE;
        Add_Table_TOC(table);
    });
}

// ---- the run -------------------------------------------------------------------------------

bool frmRegionalAnalysis::RunRegionalSpatialStats(h::Application* app, const std::string& strLayerName,
                                                  const std::string& strClassField, bool blnRaster,
                                                  const std::string& strTableName, bool blnAppend,
                                                  const std::vector<std::string>& metrics, bool blnLandscape,
                                                  bool blnAsHectares, const std::string& strRegionField,
                                                  const h::Value& regionValue) {
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
        KV_LINE;
        h::FeatureClassPtr copy =
            CopyAndRemoveFields(folder, source, strClassField, blnLandscape ? std::string{} : strRegionField);
        if (!copy) return;
        CopyGuard guard{folder, copy->name()};

        KV_LINE;
        auto copyLayer = std::make_shared<h::FeatureLayer>(copy, copy->name());
        h::LayerPtr copyAsLayer = copyLayer;
        const h::FieldDef classDef = copy->fields().field(copy->findField(strClassField));
        std::optional<h::FieldDef> regionDef;
        if (!blnLandscape) regionDef = copy->fields().field(copy->findField(strRegionField));

        KV_LINE;
        std::vector<h::Value> classes = GetClassList(copyAsLayer, strClassField);
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

        // One pass over the region (the whole copy in landscape mode)
        // gathers every class's patches in object-id order, as a search per
        // class would hand them to the metric routines.
        std::string regionClause;
        if (!blnLandscape) regionClause = ClassWhereClause(strRegionField, regionValue, regionDef->type == h::FieldString);
        KV_LINE;
        std::optional<h::Cursor> patches = getCursor(copyAsLayer, regionClause);
        if (!patches) {
            MsgBox("Unable to search the layer.", h::mb::Critical, kRunTitle);
            return;
        }
        ClassIndex present;
        std::vector<RegionPatches> byClass;
        double regionArea = 0;
        {
            const int32_t classAt = copy->findField(strClassField);
            const int32_t areaAt = copy->findField("Area");
            const int32_t perimeterAt = copy->findField("Perimeter");
            // FD is kept in the copy; SI and PAR only when the class or
            // region field carries the name.
            const int32_t fdAt = copy->findField("FD");
            const int32_t siAt = copy->findField("SI");
            const int32_t parAt = copy->findField("PAR");
            const double k = blnRaster ? 0.25 : 1;
            KV_LINE;
            while (h::RowPtr f = patches->next()) {
                double a = areaAt >= 0 ? h::toDouble(f->value(areaAt)) : f->shape().area();
                double p = perimeterAt >= 0 ? h::toDouble(f->value(perimeterAt)) : f->shape().length();
                regionArea += a;
                int32_t at = present.add(f->value(classAt));
                if (at < 0) continue;   // a null class value belongs to no class
                if (at == static_cast<int32_t>(byClass.size())) byClass.emplace_back();
                RegionPatches& c = byClass[at];
                c.areas.push_back(a);
                c.perimeters.push_back(p);
                c.shapeIndex.push_back(siAt >= 0 ? h::toDouble(f->value(siAt)) : ShapeIndex(a, p, false));
                c.perimAreaRatio.push_back(parAt >= 0 ? h::toDouble(f->value(parAt)) : PerimAreaRatio(a, p));
                c.fractalDimension.push_back(fdAt >= 0 ? h::toDouble(f->value(fdAt)) : FractalDimension(a, p, k));
            }
        }

        for (const h::Value& classValue : classes) {
            const int32_t at = present.find(classValue);
            if (at < 0) continue;   // not in this region
            const RegionPatches& c = byClass[at];
            KV_LINE;
            h::RowPtr row = table->createRow();
            row->setValue("RunDate", RunDateNow());
            row->setValue("Class", classValue);
            if (!blnLandscape) row->setValue(strRegionField, regionValue);
            for (const std::string& code : metrics) {
                KV_LINE;
                double v = 0;
                if (code == "TLA") {
                    v = regionArea / divisor;
                } else if (code == "ED") {
                    // From the row's stored TE and TLA; a region without
                    // area has no edge density to speak of.
                    auto stored = [&](const char* name) {
                        int32_t field = table->findField(name);
                        const h::Value* value = field < 0 ? nullptr : &row->value(field);
                        return (!value || h::isNull(*value)) ? 0.0 : h::toDouble(*value);
                    };
                    double area = stored("TLA");
                    v = area == 0 ? 0 : stored("TE") / area;
                } else {
                    v = c.metric(code, divisor);
                }
                KV_LINE;
                row->setValue(code, v);
            }
            KV_LINE;
            row->store();
        }
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
        const std::string alias = fcOriginal.name();
        auto taken = [&](const std::string& name) { return hfs::FileExists(strDirectory + "/" + name + ".shp"); };
        std::string name = alias;
        if (taken(name)) {
            std::string base = alias.substr(0, 25);
            for (int n = 1;; ++n) {
                if (n == 10) base = base.substr(0, 24);
                name = fmt::format("{}_{}", base, n);
                if (!taken(name)) break;
            }
        }
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
