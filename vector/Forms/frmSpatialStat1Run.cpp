// The vector metric run. It measures a working copy of the layer (never the
// layer itself), gathers every chosen metric for every class in one pass over
// the copy, and writes one row per class, or one row "All", into the spatial
// statistics table.
//
// The sums come out exactly as a search per class would give them: each
// class's patches are added in object-id order, and the rows follow the
// classes in first-seen order.
#include "vector/Forms/frmSpatialStat1Run.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <ctime>
#include <memory>
#include <optional>

#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmProgress.h"
#include "shared/modMisc.h"
#include "vector/Forms/frmSpatialStat1Progress.h"
#include "vector/Forms/frmSpatialStat1SupportData.h"
#include "vector/Forms/frmSpatialStat1WorkingCopy.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modSpatialStats.h"

KV_MODULE("Forms/frmSpatialStat1");

namespace kv {

namespace h = korvane::host;
namespace hfs = korvane::host::fs;

namespace {

constexpr const char* kCRLF = "\r\n";

// The record of one chosen metric while a class's row is written.
struct MetricAccumulator {
    std::string Code;
    Metric metric = Metric::CA;
    double Sum1 = 0, Sum2 = 0, Sum3 = 0;
    double LandscapeTotal = 0;
    std::vector<double> List1, List2;
};

// The sums of one metric for one class, gathered in the calculation pass.
struct ClassSums {
    double s1 = 0, s2 = 0, s3 = 0;
    std::vector<double> l1, l2;
};

// Per-patch values read from the working copy.
enum PatchValue { PvArea, PvPerimeter, PvSI, PvFD, PvPAR, PvPatchArea, PvCoreArea, PatchValueCount };
constexpr const char* kPatchValueField[PatchValueCount] = {"Area", "Perimeter", "SI", "FD", "PAR", "Patch_Area",
                                                           "Core_Area"};

// The order in which a row's values are worked out; the diversity pass comes
// after PSSD.
constexpr Metric kRowOrder[] = {Metric::AWMPFD, Metric::AWMSI, Metric::CA,   Metric::CAD,  Metric::ED,
                                Metric::MedPS,  Metric::MPAR,  Metric::MPE,  Metric::MPFD, Metric::MPS,
                                Metric::MSI,    Metric::NumP,  Metric::PSCoV, Metric::PSSD, Metric::SDI,
                                Metric::SEI,    Metric::TCA,   Metric::TCAI, Metric::TE,   Metric::TLA};

// What one patch adds to the sums of a metric.
struct PatchAddition {
    enum Kind {
        Sum,           // Sum1 + value
        Count,         // Sum1 + 1
        SumAndCount,   // Sum1 + value, Sum2 + 1
        AreaWeighted,  // Sum1 + area, Sum2 + 1, List1 + area, List2 + value
        AreaList,      // Sum1 + 1, List1 + area
        AreaMoments,   // Sum1 + 1, Sum2 + area squared, Sum3 + area
        CoreAreas,     // Sum1 + patch area, Sum2 + core area
        Nothing,       // landscape totals only
    } kind;
    PatchValue value;
};

PatchAddition additionOf(Metric m) {
    switch (m) {
        case Metric::AWMPFD: return {PatchAddition::AreaWeighted, PvFD};
        case Metric::AWMSI: return {PatchAddition::AreaWeighted, PvSI};
        case Metric::CA:
        case Metric::SDI:
        case Metric::SEI: return {PatchAddition::Sum, PvArea};
        case Metric::CAD:
        case Metric::NumP: return {PatchAddition::Count, PvArea};
        case Metric::ED:
        case Metric::TE: return {PatchAddition::Sum, PvPerimeter};
        case Metric::MedPS: return {PatchAddition::AreaList, PvArea};
        case Metric::MPAR: return {PatchAddition::SumAndCount, PvPAR};
        case Metric::MPE: return {PatchAddition::SumAndCount, PvPerimeter};
        case Metric::MPFD: return {PatchAddition::SumAndCount, PvFD};
        case Metric::MPS: return {PatchAddition::SumAndCount, PvArea};
        case Metric::MSI: return {PatchAddition::SumAndCount, PvSI};
        case Metric::PSCoV:
        case Metric::PSSD: return {PatchAddition::AreaMoments, PvArea};
        case Metric::TCAI: return {PatchAddition::CoreAreas, PvPatchArea};
        case Metric::TCA:
        case Metric::TLA: break;
    }
    return {PatchAddition::Nothing, PvArea};
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The first n characters of a UTF-8 text.
std::string firstChars(const std::string& s, size_t n) {
    size_t i = 0, chars = 0;
    while (i < s.size() && chars < n) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
        ++chars;
    }
    return s.substr(0, i);
}

void warn(const std::string& text, const std::string& title) { MsgBox(text, h::mb::Exclamation, title); }

// What a run leaves behind when it ends early, for whatever reason: the
// progress window is closed, the working copy deleted, and a table that the
// run was still making is removed (an old table it was to replace stays).
struct RunCleanup {
    std::unique_ptr<frmProgress> progress;
    std::string folder;
    std::string copyName;        // the working copy, once made
    bool copyOnMap = false;
    std::string unfinishedTable; // a table this run made and has not completed

    ~RunCleanup() {
        try {
            if (progress && progress->loaded()) progress->unload();
        } catch (...) {
        }
        if (folder.empty() || (copyName.empty() && unfinishedTable.empty())) return;
        try {
            h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
            if (!copyName.empty() && !copyOnMap && ws.exists(copyName)) ws.deleteDataset(copyName);
        } catch (...) {
        }
        try {
            h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
            if (!unfinishedTable.empty() && ws.exists(unfinishedTable)) ws.deleteDataset(unfinishedTable);
        } catch (...) {
        }
    }
};

// The name of the working copy: the alias when its files are free, else the
// alias cut to 6 characters (5 from n = 10 on) with "_n". A name whose
// attribute file would be the output table is never taken.
std::string chooseCopyName(const std::string& folder, const std::string& alias, const std::string& tableName) {
    auto taken = [&](const std::string& name) {
        if (name == tableName) return true;
        for (const char* ext : {".shp", ".shx", ".dbf"})
            if (hfs::FileExists(hfs::BuildPath(folder, name + ext))) return true;
        return false;
    };
    if (!taken(alias)) return alias;
    for (int64_t n = 1;; ++n) {
        std::string name = firstChars(alias, n >= 10 ? 5 : 6) + "_" + std::to_string(n);
        if (!taken(name)) return name;
    }
}

// Clears the per-class sums and lists of every record; the codes and the
// landscape totals stay.
void PartialStatReset(std::vector<MetricAccumulator>& accumulators) {
    KV_PROCEDURE("PartialStatReset", Inner).run([&] {
        KV_LINE;
        for (MetricAccumulator& a : accumulators) {
            a.Sum1 = a.Sum2 = a.Sum3 = 0;
            a.List1.clear();
            a.List1.shrink_to_fit();
            a.List2.clear();
            a.List2.shrink_to_fit();
        }
    });
}

struct OutputTable {
    h::TablePtr table;         // where the rows go
    int32_t lastRun = 0;       // the largest run number in an appended table
    std::string replaceName;   // overwrite: the new table, put in place of the old one at the end
    bool stopped = false;
};

// Opens the existing table (append), makes the new table that will replace
// it (overwrite), or creates it.
OutputTable GetOutputTable(const std::string& NewTableFileName, const std::string& folder, const std::string& tableName,
                           bool blnAppend, ProgressSteps& progress, RunCleanup& cleanup) {
    OutputTable out;
    KV_PROCEDURE("GetOutputTable", Inner).run([&] {
        KV_LINE;
        std::vector<h::FieldDef> fields;
        fields.push_back({"Name", h::FieldString, 40, 0, 0});
        progress.step();
        fields.push_back({"RunDate", h::FieldString, 25, 0, 0});
        progress.step();
        fields.push_back({"Run", h::FieldSmallInteger, 0, 3, 0});
        progress.step();
        fields.push_back({"Class", h::FieldString, 40, 0, 0});
        progress.step();

        KV_LINE;
        h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
        KV_LINE;
        if (hfs::FileExists(hfs::BuildPath(folder, tableName + ".dbf"))) {
            h::TablePtr existing;
            try {
                existing = ws.openTable(tableName);
            } catch (...) {
                existing.reset();
            }
            progress.step();
            if (!existing) {
                warn("Cannot access " + NewTableFileName + kCRLF + "File may be opened somewhere else",
                     "File Access Error");
                out.stopped = true;
                return;
            }
            if (blnAppend) {
                // Every row that is there, whatever its object id; a row whose
                // Run cannot be read is passed over.
                KV_LINE;
                int32_t run = existing->findField("Run");
                h::Cursor rows = existing->search(nullptr, true);
                while (h::RowPtr row = rows.next()) {
                    try {
                        double v = h::toDouble(row->value(run));
                        if (std::isfinite(v) && v >= INT32_MIN && v <= INT32_MAX)
                            out.lastRun = std::max(out.lastRun, static_cast<int32_t>(std::nearbyint(v)));
                    } catch (...) {
                    }
                }
                out.table = existing;
            } else {
                if (!existing->canDelete()) {
                    warn("Cannot delete " + NewTableFileName, "Cannot Overwrite File");
                    out.stopped = true;
                    return;
                }
                // The old table is replaced only once the new one is complete.
                std::string temp;
                for (int n = 1; temp.empty() || ws.exists(temp); ++n) temp = fmt::format("kvnew{}", n);
                KV_LINE;
                out.table = ws.createTable(temp, fields);
                cleanup.unfinishedTable = temp;
                out.replaceName = temp;
            }
            progress.step();
        } else {
            progress.step();
            KV_LINE;
            out.table = ws.createTable(tableName, fields);
            cleanup.unfinishedTable = tableName;
            progress.step();
        }
    });
    return out;
}

// Puts the output table in the map's table list.
void Add_Table_TOC(const h::MapPtr& map, const h::TablePtr& table) {
    KV_PROCEDURE("Add_Table_TOC", Inner).run([&] {
        KV_LINE;
        auto entry = std::make_shared<h::StandaloneTable>(table->name(), table->path());
        entry->table = table;
        KV_LINE;
        map->addTable(entry);
    });
}

// The largest run number the table's Run field can hold.
int64_t largestRun(const h::Table& table) {
    int32_t at = table.findField("Run");
    if (at < 0) return INT32_MAX;
    const h::FieldDef& f = table.fields().field(at);
    int64_t limit = f.type == h::FieldSmallInteger ? 32767 : INT32_MAX;
    if (f.precision > 0 && f.precision < 10) {
        int64_t digits = 1;
        for (int i = 0; i < f.precision; ++i) digits *= 10;
        limit = std::min(limit, digits - 1);
    }
    return limit;
}

}  // namespace

void RunSpatialStats(h::Application* ArcMapApp, const std::string& ThemeName, const std::string& ClassField,
                     bool blnRaster, bool blnAddNewLayerToMap, const std::string& NewTableFileName, bool blnAppend,
                     const std::vector<std::string>& CheckedBoxes, bool blnLandscape, bool blnAsHectares,
                     h::Form* owner) {
    // ---- the request -----------------------------------------------------------
    if (!ArcMapApp || !ArcMapApp->document())
        h::failObjectNotSet();
    h::MapPtr map = ArcMapApp->document()->focusMap();
    if (!map) h::failObjectNotSet();

    h::LayerPtr found = FindLayerByName(map, ThemeName);
    if (!found) {
        warn("Layer '" + ThemeName + "' could not be found on map." + kCRLF + "Cannot continue", "Missing Data");
        return;
    }
    auto layer = std::dynamic_pointer_cast<h::FeatureLayer>(found);
    if (!layer || !layer->featureClass() || layer->featureClass()->shapeType() != h::ShapeType::Polygon) {
        warn("Layer '" + ThemeName + "' is not a polygon feature layer." + kCRLF + "Cannot continue",
             "Invalid Layer Selection");
        return;
    }
    h::FeatureClassPtr sourceClass = layer->featureClass();
    if (sourceClass->findField(ClassField) < 0) {
        warn("Could not find field '" + ClassField + "' in layer '" + ThemeName + "'." + kCRLF + "Cannot continue.",
             "Missing Field");
        return;
    }

    // The chosen metrics in list order; entries that name no metric ("NIL"
    // in a longer list, a hand-written name) and repeated boxes add nothing.
    std::vector<Metric> chosen;
    std::array<int32_t, kMetricCount> slot;
    slot.fill(-1);
    for (const std::string& box : CheckedBoxes) {
        Metric m;
        if (!MetricOfBox(box, m) || slot[static_cast<size_t>(m)] >= 0) continue;
        slot[static_cast<size_t>(m)] = static_cast<int32_t>(chosen.size());
        chosen.push_back(m);
    }
    if (chosen.empty()) {
        warn(std::string("There were no checked boxes to do an analysis with.") + kCRLF + "Cannot continue.",
             "Missing Information");
        return;
    }
    auto isChosen = [&](Metric m) { return slot[static_cast<size_t>(m)] >= 0; };

    // Support fields are written into the copy: a class field of such a name
    // would be overwritten.
    for (int f = 0; f < SupportFieldCount; ++f) {
        const char* name = SupportFieldName(static_cast<SupportField>(f));
        if (h::sameFieldName(ClassField, name)) {
            warn("The class field '" + ClassField + "' has the name of a field that the analysis writes (Area, " +
                     "Perimeter, SI, PAR, FD)." + kCRLF + "Copy the classes to a field of another name.  Cannot continue.",
                 "Cannot Continue");
            return;
        }
    }
    // The core-area metrics sum fields of a core-area layer.
    for (const char* field : {"Patch_Area", "Core_Area"}) {
        bool needed = isChosen(Metric::TCAI) || (isChosen(Metric::CAD) && std::string(field) == "Patch_Area");
        if (needed && sourceClass->findField(field) < 0) {
            warn("Could not find field '" + std::string(field) + "' in layer '" + ThemeName + "'." + kCRLF +
                     "The core area metrics need the fields Patch_Area and Core_Area.  Cannot continue.",
                 "Missing Field");
            return;
        }
    }

    // Folder and table: the text before the last '/', and the file name up to
    // its last '.'; the table is that name's dBASE file in the folder.
    size_t slash = NewTableFileName.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : NewTableFileName.substr(0, slash);
    if (folder.empty()) folder = "/";
    std::string fileName = slash == std::string::npos ? NewTableFileName : NewTableFileName.substr(slash + 1);
    size_t dot = fileName.find_last_of('.');
    std::string tableName = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
    if (hfs::FileExists(hfs::BuildPath(folder, tableName + ".shp"))) {
        warn("Cannot write the output table " + NewTableFileName + ": its file is the attribute table of the " +
                 "shapefile " + hfs::BuildPath(folder, tableName + ".shp") + "." + kCRLF +
                 "Choose another table name.  Cannot continue.",
             "Cannot Continue");
        return;
    }

    // ---- progress window ---------------------------------------------------------
    RunCleanup cleanup;
    cleanup.progress = std::make_unique<frmProgress>();
    frmProgress& progressWindow = *cleanup.progress;
    if (owner) h::SetWindowLongA(progressWindow.hWnd(), h::GWL_HWNDPARENT, owner->hWnd());
    ShowForm(progressWindow, false);
    ProgressSteps progress(progressWindow);
    progressWindow.lblProgress().setCaption("Processing shapefile");
    progress.start(6);

    // ---- working copy ----------------------------------------------------------
    progress.step();
    h::ShapefileWorkspace::open(folder);  // a folder that cannot be opened ends the run here
    progress.step();
    bool mayCopy = sourceClass->canCopy();
    h::FeatureClassPtr copy;
    std::string copyName;
    if (!mayCopy) {
        MsgBox("There is a copy restriction on this shapefile.  Could not create a copy.", h::mb::Critical,
               "Shapefile Copy Failed");
    } else {
        copyName = chooseCopyName(folder, sourceClass->name(), tableName);
        progress.step();
        cleanup.folder = folder;
        copy = SaveSelectedFeatures(layer, copyName, folder);
        if (copy) cleanup.copyName = copyName;
        progress.step();
    }
    if (!copy) {
        warn("Cannot continue.  There was an error creating the temporary shapefile", "Shapefile Create Failed");
        return;
    }
    progress.step();
    auto workingLayer = std::make_shared<h::FeatureLayer>(copy, copyName);
    progress.step();

    // Only the shape, the object id, the core-area fields and the class field stay.
    std::vector<std::string> surplus;
    {
        const h::Fields& fields = copy->fields();
        progress.start(fields.count() + 3);
        std::string classUpper = upper(ClassField);
        for (const h::FieldDef& f : fields.all()) {
            std::string u = upper(f.name);
            if (u != "SHAPE" && u != "FID" && u != "PATCH_AREA" && u != "CORE_AREA" && u != classUpper)
                surplus.push_back(f.name);
            progress.step();
        }
        // The copy keeps the source's read-only attribute; it must be written and deleted.
        for (const std::string& file : copy->files()) hfs::SetReadOnly(file, false);
        progress.step(3);
        if (!surplus.empty()) {
            progress.start(static_cast<int64_t>(surplus.size()));
            for (const std::string& name : surplus) {
                copy->deleteField(name);
                progress.step();
            }
        }
    }

    // ---- support fields ----------------------------------------------------------
    if (!AddSupportData(copy, CheckedBoxes, blnRaster, progressWindow)) return;
    progress.start(0);

    // ---- units divisor -------------------------------------------------------------
    progress.start(1);
    int32_t divisor = 1;
    if (blnAsHectares) {
        progressWindow.lblProgress().setCaption("Processing area re-calculations");
        switch (map->mapUnits()) {
            case h::UnitMeters: divisor = 10000; break;
            case h::UnitFeet: divisor = 43560; break;
            case h::UnitYards: divisor = 4840; break;
            default: divisor = 1; break;
        }
    }
    progress.step();
    const double d = divisor;

    // ---- classes -------------------------------------------------------------------
    // The class values are gathered in the calculation pass below, in the
    // order in which the features first carry them.
    progressWindow.lblProgress().setCaption("Determining class list");
    progress.start(1);
    progress.step();

    // ---- output table --------------------------------------------------------------
    progressWindow.lblProgress().setCaption("Setting up the output table");
    progress.start(6);
    OutputTable output = GetOutputTable(NewTableFileName, folder, tableName, blnAppend, progress, cleanup);
    if (output.stopped) return;
    h::TablePtr table = output.table;
    int64_t limit = largestRun(*table);
    if (output.lastRun >= limit) {
        warn(fmt::format("The Run field of {} holds run numbers up to {}, and the table already holds run {}.{}"
                         "Start a new output table or overwrite this one.  Cannot continue.",
                         NewTableFileName, limit, output.lastRun, kCRLF),
             "Cannot Continue");
        return;
    }
    const int32_t runNumber = output.lastRun + 1;

    // ---- metric fields and accumulators --------------------------------------------------
    progressWindow.lblProgress().setCaption("Adding class fields to the table");
    progress.start(static_cast<int64_t>(CheckedBoxes.size()) + 2);
    std::vector<MetricAccumulator> accumulators(chosen.size());
    for (size_t k = 0; k < chosen.size(); ++k) {
        accumulators[k].metric = chosen[k];
        accumulators[k].Code = MetricCode(chosen[k]);
        if (table->findField(accumulators[k].Code) < 0)
            table->addField({accumulators[k].Code, h::FieldSingle, 0, 30, 16});
        progress.step();
    }
    progress.step(static_cast<int64_t>(CheckedBoxes.size() - chosen.size()));

    // ---- calculations ----------------------------------------------------------------
    progressWindow.lblProgress().setCaption("Doing Calculations");
    const int64_t featureCount = copy->rowCount();
    progress.start(featureCount + 1);

    std::array<int32_t, PatchValueCount> valueAt;
    for (int v = 0; v < PatchValueCount; ++v) valueAt[v] = copy->findField(kPatchValueField[v]);
    const int32_t classAt = copy->findField(ClassField);
    std::vector<PatchAddition> additions;
    std::array<bool, PatchValueCount> read{};
    for (Metric m : chosen) {
        PatchAddition add = additionOf(m);
        additions.push_back(add);
        if (add.kind != PatchAddition::Count && add.kind != PatchAddition::Nothing) read[add.value] = true;
        if (add.kind == PatchAddition::AreaWeighted || add.kind == PatchAddition::AreaList ||
            add.kind == PatchAddition::AreaMoments)
            read[PvArea] = true;
    }
    // The landscape totals: patch areas for CAD, areas for ED, TCA and TLA.
    if (isChosen(Metric::CAD)) read[PvPatchArea] = true;
    if (isChosen(Metric::ED) || isChosen(Metric::TCA) || isChosen(Metric::TLA)) read[PvArea] = true;
    if (isChosen(Metric::TCAI)) read[PvCoreArea] = true;

    const bool diversity = blnLandscape && (isChosen(Metric::SDI) || isChosen(Metric::SEI));
    const size_t K = chosen.size();
    ClassIndex classes;       // class level: the rows' classes
    ClassIndex diversityClasses;
    std::vector<double> diversityArea;
    std::vector<ClassSums> sums(blnLandscape ? K : 0);
    double previousPatchArea = 0;
    MetricAccumulator* cad = isChosen(Metric::CAD) ? &accumulators[static_cast<size_t>(slot[size_t(Metric::CAD)])] : nullptr;
    std::vector<MetricAccumulator*> landscapeArea;
    for (Metric m : {Metric::ED, Metric::TCA, Metric::TLA})
        if (isChosen(m)) landscapeArea.push_back(&accumulators[static_cast<size_t>(slot[static_cast<size_t>(m)])]);

    {
        h::Cursor cursor = workingLayer->featureClass()->search(nullptr, true);
        std::array<double, PatchValueCount> v{};
        while (h::RowPtr row = cursor.next()) {
            for (int i = 0; i < PatchValueCount; ++i)
                if (read[i]) v[i] = valueAt[i] < 0 ? -1.0 : h::toDouble(row->value(valueAt[i]));
            const double area = v[PvArea];

            // Landscape totals, over every feature.
            if (cad) {
                if (v[PvPatchArea] != previousPatchArea) cad->LandscapeTotal += v[PvPatchArea];
                previousPatchArea = v[PvPatchArea];
            }
            for (MetricAccumulator* a : landscapeArea) a->LandscapeTotal += area;

            size_t c = 0;
            if (blnLandscape) {
                if (diversity) {
                    int32_t dc = diversityClasses.add(row->value(classAt));
                    if (dc >= 0) {
                        if (static_cast<size_t>(dc) >= diversityArea.size()) diversityArea.push_back(0);
                        diversityArea[static_cast<size_t>(dc)] += area;
                    }
                }
            } else {
                int32_t ci = classes.add(row->value(classAt));
                if (ci < 0) {  // a null class value belongs to no class
                    progress.step();
                    continue;
                }
                c = static_cast<size_t>(ci);
                if (sums.size() < (c + 1) * K) sums.resize((c + 1) * K);
            }

            ClassSums* s = &sums[c * K];
            for (size_t k = 0; k < K; ++k, ++s) {
                const PatchAddition& add = additions[k];
                switch (add.kind) {
                    case PatchAddition::Sum: s->s1 += v[add.value]; break;
                    case PatchAddition::Count: s->s1 += 1; break;
                    case PatchAddition::SumAndCount:
                        s->s1 += v[add.value];
                        s->s2 += 1;
                        break;
                    case PatchAddition::AreaWeighted:
                        s->s1 += area;
                        s->s2 += 1;
                        s->l1.push_back(area);
                        s->l2.push_back(v[add.value]);
                        break;
                    case PatchAddition::AreaList:
                        s->s1 += 1;
                        s->l1.push_back(area);
                        break;
                    case PatchAddition::AreaMoments:
                        s->s1 += 1;
                        s->s2 += area * area;
                        s->s3 += area;
                        break;
                    case PatchAddition::CoreAreas:
                        s->s1 += v[PvPatchArea];
                        s->s2 += v[PvCoreArea];
                        break;
                    case PatchAddition::Nothing: break;
                }
            }
            progress.step();
        }
    }

    // Class values must be searchable in one form or the other (the first
    // class stands for all).
    std::optional<h::Value> testValue;
    if (!blnLandscape && classes.size() > 0) testValue = classes.values().front();
    if (diversity && diversityClasses.size() > 0) testValue = diversityClasses.values().front();
    if (testValue && !getCursor(workingLayer, ClassWhereClause(ClassField, *testValue, false)) &&
        !getCursor(workingLayer, ClassWhereClause(ClassField, *testValue, true))) {
        MsgBox("Unable to search the layer.", h::mb::Critical, "RunSpatialStats SubFunction");
        return;
    }

    const int32_t nameAt = table->findField("Name");
    const int32_t runDateAt = table->findField("RunDate");
    const int32_t runAt = table->findField("Run");
    const int32_t classFieldAt = table->findField("Class");
    progress.step();

    const size_t rowCount = blnLandscape ? 1 : static_cast<size_t>(classes.size());
    progress.raiseMax(static_cast<int64_t>(rowCount * K));
    auto textFor = [&](int32_t at, const std::string& text) -> h::Value {
        if (at >= 0 && table->fields().field(at).type == h::FieldString)
            return FitBytes(text, table->fields().field(at).length);
        return text;
    };

    for (size_t c = 0; c < rowCount; ++c) {
        h::RowPtr row = table->createRow();
        row->setValue(nameAt, textFor(nameAt, ThemeName));
        row->setValue(runDateAt, textFor(runDateAt, RunDateNow()));
        row->setValue(runAt, runNumber);
        if (blnLandscape) {
            row->setValue(classFieldAt, textFor(classFieldAt, "All"));
        } else {
            const h::Value& value = classes.values()[c];
            bool text = classFieldAt >= 0 && table->fields().field(classFieldAt).type == h::FieldString;
            row->setValue(classFieldAt, text ? textFor(classFieldAt, h::toText(value)) : value);
        }

        for (size_t k = 0; k < K; ++k) {
            ClassSums& s = sums[c * K + k];
            MetricAccumulator& a = accumulators[k];
            a.Sum1 = s.s1;
            a.Sum2 = s.s2;
            a.Sum3 = s.s3;
            a.List1 = std::move(s.l1);
            a.List2 = std::move(s.l2);
        }

        for (Metric m : kRowOrder) {
            if (m == Metric::SDI && diversity) {
                // Each class's share p of the landscape adds -p ln p.
                for (Metric dm : {Metric::SDI, Metric::SEI}) {
                    if (!isChosen(dm)) continue;
                    MetricAccumulator& a = accumulators[static_cast<size_t>(slot[static_cast<size_t>(dm)])];
                    for (double classArea : diversityArea) {
                        a.Sum2 = classArea;
                        a.Sum3 = a.Sum1 != 0 ? a.Sum2 / a.Sum1 : 0;
                        a.LandscapeTotal = a.LandscapeTotal - ShannonTerm(a.Sum3);
                        a.Sum2 = 0;
                    }
                }
            }
            if (!isChosen(m)) continue;
            MetricAccumulator& a = accumulators[static_cast<size_t>(slot[static_cast<size_t>(m)])];
            double value = 0;
            switch (m) {
                case Metric::AWMPFD:
                case Metric::AWMSI: value = WeightedMean(a.List1, a.List2, a.Sum1); break;
                case Metric::CA: value = a.Sum1 / d; break;
                case Metric::CAD: value = a.LandscapeTotal != 0 ? a.Sum1 / a.LandscapeTotal * 1000000 : 0; break;
                case Metric::ED: value = a.LandscapeTotal != 0 ? a.Sum1 / a.LandscapeTotal * d : 0; break;
                case Metric::MedPS: value = Median(a.List1) / d; break;
                case Metric::MPAR: value = a.Sum2 != 0 ? a.Sum1 / a.Sum2 * d : 0; break;
                case Metric::MPE:
                case Metric::MPFD:
                case Metric::MSI: value = a.Sum2 != 0 ? a.Sum1 / a.Sum2 : 0; break;
                case Metric::MPS: value = a.Sum2 != 0 ? a.Sum1 / a.Sum2 / d : 0; break;
                case Metric::NumP:
                case Metric::TE: value = a.Sum1; break;
                case Metric::PSCoV: {
                    double mean = a.Sum1 != 0 ? a.Sum3 / a.Sum1 : 0;
                    value = mean != 0 ? PopulationSD(a.Sum1, a.Sum2, a.Sum3) / mean * 100 : 0;
                    break;
                }
                case Metric::PSSD: value = PopulationSD(a.Sum1, a.Sum2, a.Sum3) / d; break;
                case Metric::SDI: value = a.LandscapeTotal; break;
                case Metric::SEI: {
                    double n = static_cast<double>(diversityClasses.size());
                    value = n > 1 ? a.LandscapeTotal / std::log(n) : 0;
                    break;
                }
                case Metric::TCA:
                case Metric::TLA: value = a.LandscapeTotal / d; break;
                case Metric::TCAI: value = a.Sum1 != 0 ? a.Sum2 / a.Sum1 * 100 : 0; break;
            }
            if (!std::isfinite(value)) value = 0;  // source values beyond any sense (e.g. infinite areas)
            row->setValue(table->findField(a.Code), value);
            progress.step();
        }
        PartialStatReset(accumulators);
        row->store();
    }

    // ---- results -------------------------------------------------------------------
    progressWindow.lblProgress().setCaption("Finished spatial calculations");
    table->flush();
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
    if (!output.replaceName.empty()) {
        // The new table takes the old one's place.
        ws.deleteDataset(tableName);
        h::TablePtr placed = ws.copyDataset(*table, tableName);
        table.reset();
        ws.deleteDataset(output.replaceName);
        table = placed;
    }
    cleanup.unfinishedTable.clear();

    if (!blnAddNewLayerToMap) {
        if (copy->canDelete()) {
            workingLayer.reset();
            copy.reset();
            ws.deleteDataset(copyName);
        }
        cleanup.copyOnMap = true;  // deleted, or left in place when it cannot be
    } else {
        progressWindow.lblProgress().setCaption("Adding new shape to map");
        workingLayer->setVisible(true);
        map->addLayer(workingLayer);
        cleanup.copyOnMap = true;
        progressWindow.lblProgress().setCaption("Adding new table to map");
        Add_Table_TOC(map, table);
    }
    progressWindow.unload();
}

}  // namespace kv
