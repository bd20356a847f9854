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
#include <filesystem>
#include <memory>
#include <optional>

#include "host/OutputLock.h"
#include "host/data/OutputTable.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
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
#include "vector/Modules/modRunChecks.h"
#include "vector/Modules/modSpatialStats.h"

KV_MODULE("Forms/frmSpatialStat1");

namespace kv {

namespace h = korvane::host;
namespace hfs = korvane::host::fs;

namespace {

constexpr const char* kCRLF = "\r\n";

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void warn(const std::string& text, const std::string& title) { MsgBox(text, h::mb::Exclamation, title); }

// What a run leaves behind when it ends early, for whatever reason: the
// progress window is closed and the working copy deleted. The new table is
// written under a temporary name (OutputTable::replacement) that removes
// itself unless the run completes, so an old table stays as it was.
struct RunCleanup {
    std::unique_ptr<frmProgress> progress;
    std::string folder;
    std::string copyName;        // the working copy, once made
    bool copyOnMap = false;

    ~RunCleanup() {
        try {
            if (progress && progress->loaded()) progress->unload();
        } catch (...) {
        }
        if (folder.empty() || copyName.empty()) return;
        try {
            h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
            if (!copyOnMap && ws.exists(copyName)) ws.deleteDataset(copyName);
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

struct OutputTable {
    h::TablePtr table;         // where the rows go: the new version, under a temporary name
    int32_t lastRun = 0;       // the largest run number in an appended table
    // The new version of the table, put in place of the old one (if any) when
    // the run completes; an appended run writes the old rows and its own.
    std::unique_ptr<h::DatasetReplacement> replacement;
    bool stopped = false;
};

// Makes the new version of the output table under a temporary name: a copy
// of the existing table (append), or a new table (overwrite, or none there).
OutputTable GetOutputTable(const std::string& NewTableFileName, const std::string& folder, const std::string& tableName,
                           bool blnAppend, ProgressSteps& progress) {
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
        out.replacement = std::make_unique<h::DatasetReplacement>(ws, tableName, false);
        const std::string temp = out.replacement->temporaryName();
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
                if (run < 0)
                    h::fail(h::err::HostInvalidArg, "Fields",
                            "The table " + NewTableFileName + " has no field Run: it is not a statistics table.");
                h::Cursor rows = existing->search(nullptr, true);
                while (h::RowPtr row = rows.next()) {
                    try {
                        double v = h::toDouble(row->value(run));
                        if (std::isfinite(v) && v >= INT32_MIN && v <= INT32_MAX)
                            out.lastRun = std::max(out.lastRun, static_cast<int32_t>(std::nearbyint(v)));
                    } catch (...) {
                    }
                }
                // The old rows and this run's go to the new version together:
                // the run adds all its rows or none.
                KV_LINE;
                out.table = ws.copyDataset(*existing, temp);
                for (const std::string& file : out.table->files()) hfs::SetReadOnly(file, false);
            } else {
                if (!existing->canDelete()) {
                    warn("Cannot delete " + NewTableFileName, "Cannot Overwrite File");
                    out.stopped = true;
                    return;
                }
                // The old table is replaced only once the new one is complete.
                KV_LINE;
                out.table = ws.createTable(temp, fields);
            }
            progress.step();
        } else {
            progress.step();
            KV_LINE;
            out.table = ws.createTable(temp, fields);
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

// ---- the stages of a run ----------------------------------------------------------

namespace {

// A request that passed its checks.
struct RunRequest {
    h::MapPtr map;
    h::FeatureLayerPtr layer;
    h::FeatureClassPtr source;
    std::vector<Metric> chosen;                   // in list order, each once
    std::array<int32_t, kMetricCount> slot{};     // a metric's place in chosen, or -1
    std::string folder, tableName;

    bool isChosen(Metric m) const { return slot[static_cast<size_t>(m)] >= 0; }
};

// Checks the request before anything is written; nothing after a message.
std::optional<RunRequest> CheckRequest(h::Application* ArcMapApp, const std::string& ThemeName,
                                       const std::string& ClassField, const std::string& NewTableFileName,
                                       const std::vector<std::string>& CheckedBoxes) {
    if (!ArcMapApp || !ArcMapApp->document()) h::failObjectNotSet();
    RunRequest r;
    r.map = ArcMapApp->document()->focusMap();
    if (!r.map) h::failObjectNotSet();

    h::LayerPtr found = FindLayerByName(r.map, ThemeName);
    if (!found) {
        warn("Layer '" + ThemeName + "' could not be found on map." + kCRLF + "Cannot continue", "Missing Data");
        return std::nullopt;
    }
    r.layer = std::dynamic_pointer_cast<h::FeatureLayer>(found);
    if (!r.layer || !r.layer->featureClass() || r.layer->featureClass()->shapeType() != h::ShapeType::Polygon) {
        warn("Layer '" + ThemeName + "' is not a polygon feature layer." + kCRLF + "Cannot continue",
             "Invalid Layer Selection");
        return std::nullopt;
    }
    r.source = r.layer->featureClass();
    // The dialogs ask before a run in degrees; a batch line runs as stored.
    if (IsGeographicLayer(*r.source)) WarnGeographicLayer(ThemeName);
    if (r.source->findField(ClassField) < 0) {
        warn("Could not find field '" + ClassField + "' in layer '" + ThemeName + "'." + kCRLF + "Cannot continue.",
             "Missing Field");
        return std::nullopt;
    }

    // The chosen metrics in list order; entries that name no metric ("NIL"
    // in a longer list, a hand-written name) and repeated boxes add nothing.
    r.slot.fill(-1);
    for (const std::string& box : CheckedBoxes) {
        Metric m;
        if (!MetricOfBox(box, m) || r.slot[static_cast<size_t>(m)] >= 0) continue;
        r.slot[static_cast<size_t>(m)] = static_cast<int32_t>(r.chosen.size());
        r.chosen.push_back(m);
    }
    if (r.chosen.empty()) {
        warn(std::string("There were no checked boxes to do an analysis with.") + kCRLF + "Cannot continue.",
             "Missing Information");
        return std::nullopt;
    }

    // Support fields are written into the copy: a class field of such a name
    // would be overwritten.
    for (int f = 0; f < SupportFieldCount; ++f) {
        const char* name = SupportFieldName(static_cast<SupportField>(f));
        if (h::sameFieldName(ClassField, name)) {
            warn("The class field '" + ClassField + "' has the name of a field that the analysis writes (Area, " +
                     "Perimeter, SI, PAR, FD)." + kCRLF + "Copy the classes to a field of another name.  Cannot continue.",
                 "Cannot Continue");
            return std::nullopt;
        }
    }
    // The core-area metrics sum fields of a core-area layer.
    for (const char* field : {"Patch_Area", "Core_Area"}) {
        bool needed = r.isChosen(Metric::TCAI) || (r.isChosen(Metric::CAD) && std::string(field) == "Patch_Area");
        if (needed && r.source->findField(field) < 0) {
            warn("Could not find field '" + std::string(field) + "' in layer '" + ThemeName + "'." + kCRLF +
                     "The core area metrics need the fields Patch_Area and Core_Area.  Cannot continue.",
                 "Missing Field");
            return std::nullopt;
        }
    }

    // Folder and table: the text before the last '/', and the file name up to
    // its last '.'; the table is that name's dBASE file in the folder.
    size_t slash = NewTableFileName.find_last_of('/');
    r.folder = slash == std::string::npos ? "." : NewTableFileName.substr(0, slash);
    if (r.folder.empty()) r.folder = "/";
    std::string fileName = slash == std::string::npos ? NewTableFileName : NewTableFileName.substr(slash + 1);
    size_t dot = fileName.find_last_of('.');
    r.tableName = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
    if (hfs::FileExists(hfs::BuildPath(r.folder, r.tableName + ".shp"))) {
        warn("Cannot write the output table " + NewTableFileName + ": its file is the attribute table of the " +
                 "shapefile " + hfs::BuildPath(r.folder, r.tableName + ".shp") + "." + kCRLF +
                 "Choose another table name.  Cannot continue.",
             "Cannot Continue");
        return std::nullopt;
    }
    if (std::string refusal = h::foreignOutputTable(hfs::BuildPath(r.folder, r.tableName + ".dbf"), nullptr, {});
        !refusal.empty()) {
        warn("Cannot write the output table " + NewTableFileName + ": " + refusal + kCRLF + "Cannot continue.",
             "Cannot Continue");
        return std::nullopt;
    }
    return r;
}

// The working copy of the layer's selected features (all when none is
// selected), trimmed to the shape, the object id, the core-area fields and
// the class field; nothing after a message.
h::FeatureClassPtr MakeWorkingCopy(const RunRequest& r, ProgressSteps& progress,
                                   RunCleanup& cleanup, std::string& copyName) {
    progress.step();
    h::ShapefileWorkspace::open(r.folder);  // a folder that cannot be opened ends the run here
    progress.step();
    h::FeatureClassPtr copy;
    if (!r.source->canCopy()) {
        MsgBox("There is a copy restriction on this shapefile.  Could not create a copy.", h::mb::Critical,
               "Shapefile Copy Failed");
    } else {
        // Made under a marked temporary name, so that a killed run leaves
        // nothing a user could take for a dataset of theirs.
        copyName = h::temporaryNameFor(std::filesystem::path(r.folder) / (r.source->name() + ".shp")).stem().string();
        progress.step();
        cleanup.folder = r.folder;
        copy = SaveSelectedFeatures(r.layer, copyName, r.folder);
        if (copy) cleanup.copyName = copyName;
        progress.step();
    }
    if (!copy) {
        warn("Cannot continue.  There was an error creating the temporary shapefile", "Shapefile Create Failed");
        return nullptr;
    }
    progress.step();
    return copy;
}

void TrimWorkingCopy(h::FeatureClass& copy, const std::string& ClassField, ProgressSteps& progress) {
    std::vector<std::string> surplus;
    const h::Fields& fields = copy.fields();
    progress.start(fields.count() + 3);
    std::string classUpper = upper(ClassField);
    for (const h::FieldDef& f : fields.all()) {
        std::string u = upper(f.name);
        if (u != "SHAPE" && u != "FID" && u != "PATCH_AREA" && u != "CORE_AREA" && u != classUpper)
            surplus.push_back(f.name);
        progress.step();
    }
    // The copy keeps the source's read-only attribute; it must be written and deleted.
    for (const std::string& file : copy.files()) hfs::SetReadOnly(file, false);
    progress.step(3);
    if (!surplus.empty()) {
        progress.start(static_cast<int64_t>(surplus.size()));
        for (const std::string& name : surplus) {
            copy.deleteField(name);
            progress.step();
        }
    }
}

int32_t UnitsDivisor(const h::Map& map, bool blnAsHectares, frmProgress& window, ProgressSteps& progress) {
    progress.start(1);
    int32_t divisor = 1;
    if (blnAsHectares) {
        window.lblProgress().setCaption("Processing area re-calculations");
        switch (map.mapUnits()) {
            case h::UnitMeters: divisor = 10000; break;
            case h::UnitFeet: divisor = 43560; break;
            case h::UnitYards: divisor = 4840; break;
            default: divisor = 1; break;
        }
    }
    progress.step();
    return divisor;
}

// The patches of a run, grouped: one group per class in first-seen order at
// class level, one group "All" at landscape level, with the landscape totals
// and the class areas behind the diversity metrics.
struct RunGroups {
    ClassIndex classes;
    std::vector<PatchGroup> groups;
    LandscapeTotals totals;
    ClassIndex diversityClasses;
    std::vector<double> diversityArea;
    int64_t nullClasses = 0;   // class level: patches left out of the class rows
};

// Adds the patches of a run, one row of the working copy at a time, in
// object-id order: the support values as the run computed them (full
// precision), the class value and the core-area fields as the copy holds
// them.
class PatchGatherer {
public:
    PatchGatherer(const RunRequest& r, const h::Table& copy, const std::string& ClassField, bool blnLandscape)
        : lists_(PatchLists::For(r.chosen)), landscape_(blnLandscape) {
        if (blnLandscape) g_.groups.emplace_back(lists_);
        diversity_ = blnLandscape && (r.isChosen(Metric::SDI) || r.isChosen(Metric::SEI));
        coreFields_ = r.isChosen(Metric::CAD) || r.isChosen(Metric::TCAI);
        coreArea_ = r.isChosen(Metric::TCAI);
        classAt_ = copy.findField(ClassField);
        patchAreaAt_ = copy.findField("Patch_Area");
        coreAreaAt_ = copy.findField("Core_Area");
    }

    // Whether the core-area fields that the row's patch would read hold
    // numbers (a null or a text fails the run where it is read).
    bool coreFieldsAreNumbers(const h::Row& row) const {
        auto number = [&](int32_t at) {
            if (at < 0) return true;
            const h::Value& v = row.value(at);
            return std::holds_alternative<int32_t>(v) || std::holds_alternative<float>(v) ||
                   std::holds_alternative<double>(v);
        };
        return !coreFields_ || (number(patchAreaAt_) && (!coreArea_ || number(coreAreaAt_)));
    }

    // support: area, perimeter, SI, PAR and FD (-1 for those not made).
    void add(const h::Row& row, PatchValues p) {
        if (coreFields_) p.patchArea = patchAreaAt_ < 0 ? -1.0 : h::toDouble(row.value(patchAreaAt_));
        if (coreArea_) p.coreArea = coreAreaAt_ < 0 ? -1.0 : h::toDouble(row.value(coreAreaAt_));
        g_.totals.add(p);

        PatchGroup* group = nullptr;
        if (landscape_) {
            group = &g_.groups.front();
            if (diversity_) {
                int32_t dc = g_.diversityClasses.add(row.value(classAt_));
                if (dc >= 0) {
                    if (static_cast<size_t>(dc) >= g_.diversityArea.size()) g_.diversityArea.push_back(0);
                    g_.diversityArea[static_cast<size_t>(dc)] += p.area;
                }
            }
        } else {
            int32_t ci = g_.classes.add(row.value(classAt_));
            if (ci >= 0) {
                if (static_cast<size_t>(ci) == g_.groups.size()) g_.groups.emplace_back(lists_);
                group = &g_.groups[static_cast<size_t>(ci)];
            } else {
                ++g_.nullClasses;  // a null class value belongs to no class
            }
        }
        if (group) group->add(p);
    }

    RunGroups take() { return std::move(g_); }

private:
    RunGroups g_;
    PatchLists lists_;
    bool landscape_, diversity_ = false, coreFields_ = false, coreArea_ = false;
    int32_t classAt_ = -1, patchAreaAt_ = -1, coreAreaAt_ = -1;
};

// One pass over the working copy, in object-id order, with the support
// values that AddSupportData computed.
RunGroups GatherPatches(const RunRequest& r, h::FeatureClass& copy, const std::string& ClassField, bool blnLandscape,
                        const SupportValues& support, ProgressSteps& progress) {
    PatchGatherer gatherer(r, copy, ClassField, blnLandscape);
    auto supportValue = [&](SupportField f, size_t i) {
        const std::vector<double>& v = support.values[f];
        return i < v.size() ? v[i] : -1.0;  // a field the run never made reads as -1
    };
    h::Cursor cursor = copy.search(nullptr, true);
    size_t i = 0;
    for (h::RowPtr row = cursor.next(); row; row = cursor.next(), ++i) {
        PatchValues p;
        p.area = supportValue(SupportArea, i);
        p.perimeter = supportValue(SupportPerimeter, i);
        p.si = supportValue(SupportSI, i);
        p.par = supportValue(SupportPAR, i);
        p.fd = supportValue(SupportFD, i);
        gatherer.add(*row, p);
        progress.step();
    }
    return gatherer.take();
}

// The working copy trimmed, its support fields made and filled, and the
// patches gathered, in one pass over it (Table::rewriteFields): what
// TrimWorkingCopy, AddSupportData and GatherPatches do, with the same
// files, values and progress. Nothing, with the copy as it was, when the
// pass cannot be made so; the stages then run one by one.
std::optional<RunGroups> MeasureInOnePass(const RunRequest& r, h::FeatureClass& copy, const std::string& ClassField,
                                          const std::vector<std::string>& CheckedBoxes, bool blnRaster,
                                          bool blnLandscape, frmProgress& window, ProgressSteps& progress) {
    // As TrimWorkingCopy: the kept fields, the copy made writable.
    std::vector<std::string> keep;
    int64_t surplus = 0;
    const h::Fields& fields = copy.fields();
    const int64_t fieldCount = fields.count();
    std::string classUpper = upper(ClassField);
    for (const h::FieldDef& f : fields.all()) {
        std::string u = upper(f.name);
        if (u == "SHAPE" || u == "FID") continue;
        if (u == "PATCH_AREA" || u == "CORE_AREA" || u == classUpper)
            keep.push_back(f.name);
        else
            ++surplus;
    }
    for (const std::string& file : copy.files()) hfs::SetReadOnly(file, false);

    // As AddSupportData: the needed fields, filled from each shape.
    const std::array<bool, SupportFieldCount> need = SupportFieldsNeeded(CheckedBoxes);
    int64_t needed = 0;
    std::vector<h::FieldDef> add;
    for (int f = 0; f < SupportFieldCount; ++f) {
        if (!need[f]) continue;
        ++needed;
        add.push_back({SupportFieldName(static_cast<SupportField>(f)), h::FieldSingle, 0, 20, 5});
    }
    const double k = blnRaster ? 0.25 : 1.0;
    PatchGatherer gatherer(r, copy, ClassField, blnLandscape);
    ProgressSteps fill(window);
    int64_t rows = 0;
    auto measure = [&](const h::Row& row, h::Table::AddedValues& values) {
        if (!gatherer.coreFieldsAreNumbers(row)) return false;
        const h::Geometry shape = MeasuredShape(row.shape());
        const double a = shape.area();
        const double p = shape.length();
        const double value[SupportFieldCount] = {
            a, p, need[SupportSI] ? ShapeIndex(a, p, blnRaster) : 0, need[SupportPAR] ? PerimAreaRatio(a, p) : 0,
            need[SupportFD] ? FractalDimension(a, p, k) : 0};
        values.clear();
        PatchValues patch;
        double* support[SupportFieldCount] = {&patch.area, &patch.perimeter, &patch.si, &patch.par, &patch.fd};
        for (int f = 0; f < SupportFieldCount; ++f) {
            *support[f] = need[f] ? value[f] : -1.0;
            if (need[f]) values.emplace_back(value[f]);
        }
        gatherer.add(row, patch);
        ++rows;
        return true;
    };
    // Whatever stops the pass (a shape that cannot be measured, a write that
    // fails) leaves the copy as it was, and the stages meet it again where
    // they meet it.
    bool done = false;
    try {
        done = copy.rewriteFields(keep, add, measure);
    } catch (...) {
        done = false;
    }
    if (!done) return std::nullopt;

    // The progress the stages show.
    progress.start(fieldCount + 3);
    progress.step(fieldCount + 3);
    if (surplus > 0) {
        progress.start(surplus);
        progress.step(surplus);
    }
    fill.start(needed * (copy.rowCount() + 1));
    if (needed > 0) {
        fill.step(static_cast<int64_t>(add.size()) + needed * rows);
        fill.show();
    }
    return gatherer.take();
}

// One row per group into the table, each with the chosen metrics; false,
// before any row is written, after a message.
bool WriteRows(const RunRequest& r, h::Table& table, RunGroups& g, const std::string& ThemeName, bool blnLandscape,
               int32_t runNumber, int32_t divisor, ProgressSteps& progress) {
    const int32_t nameAt = table.findField("Name");
    const int32_t runDateAt = table.findField("RunDate");
    const int32_t runAt = table.findField("Run");
    const int32_t classFieldAt = table.findField("Class");
    std::vector<int32_t> metricAt;
    for (Metric m : r.chosen) metricAt.push_back(table.findField(MetricCode(m)));
    progress.step();

    // Classes that the Class column could not tell apart are refused before
    // any row is written.
    if (!blnLandscape && classFieldAt >= 0 && table.fields().field(classFieldAt).type == h::FieldString) {
        std::string clash = CutValueClash(g.classes.values(), table.fields().field(classFieldAt).length, "Class");
        if (!clash.empty()) {
            warn(clash, "Cannot Continue");
            return false;
        }
    }

    MetricScope scope;
    scope.divisor = divisor;
    scope.landscapeArea = g.totals.area;
    scope.landscapePatchArea = g.totals.patchArea;
    if (blnLandscape) {
        scope.diversity = ShannonDiversity(g.diversityArea, g.totals.area);
        scope.diversityClasses = g.diversityClasses.size();
    }

    const size_t K = r.chosen.size();
    progress.raiseMax(static_cast<int64_t>(g.groups.size() * K));
    auto textFor = [&](int32_t at, const std::string& text) -> h::Value {
        if (at >= 0 && table.fields().field(at).type == h::FieldString)
            return FitBytes(text, table.fields().field(at).length);
        return text;
    };
    for (size_t c = 0; c < g.groups.size(); ++c) {
        h::RowPtr row = table.createRow();
        row->setValue(nameAt, textFor(nameAt, ThemeName));
        row->setValue(runDateAt, textFor(runDateAt, RunDateNow()));
        row->setValue(runAt, runNumber);
        if (blnLandscape) {
            row->setValue(classFieldAt, textFor(classFieldAt, "All"));
        } else {
            const h::Value& value = g.classes.values()[c];
            bool text = classFieldAt >= 0 && table.fields().field(classFieldAt).type == h::FieldString;
            row->setValue(classFieldAt, text ? textFor(classFieldAt, h::toText(value)) : value);
        }
        for (size_t k = 0; k < K; ++k) {
            row->setValue(metricAt[k], g.groups[c].value(r.chosen[k], scope));
            progress.step();
        }
        row->store();
        g.groups[c] = PatchGroup();  // its lists are not needed any more
    }
    return true;
}

// The output table made ready for this run's rows: the new version under a
// temporary name, the run number after the table's last, and the chosen
// metrics' fields; false after a message.
bool PrepareOutputTable(const RunRequest& r, const std::string& NewTableFileName, bool blnAppend, size_t boxes,
                        frmProgress& window, ProgressSteps& progress, OutputTable& output, int32_t& runNumber) {
    window.lblProgress().setCaption("Setting up the output table");
    progress.start(6);
    output = GetOutputTable(NewTableFileName, r.folder, r.tableName, blnAppend, progress);
    if (output.stopped) return false;
    h::Table& table = *output.table;
    int64_t limit = largestRun(table);
    if (output.lastRun >= limit) {
        warn(fmt::format("The Run field of {} holds run numbers up to {}, and the table already holds run {}.{}"
                         "Start a new output table or overwrite this one.  Cannot continue.",
                         NewTableFileName, limit, output.lastRun, kCRLF),
             "Cannot Continue");
        return false;
    }
    runNumber = output.lastRun + 1;

    window.lblProgress().setCaption("Adding class fields to the table");
    progress.start(static_cast<int64_t>(boxes) + 2);
    for (Metric m : r.chosen) {
        if (table.findField(MetricCode(m)) < 0) table.addField({MetricCode(m), h::FieldSingle, 0, 30, 16});
        progress.step();
    }
    progress.step(static_cast<int64_t>(boxes - r.chosen.size()));
    return true;
}

// The new table takes the old one's place, file by file, in one rename each
// (the old table is never deleted first); the working copy is deleted, or
// kept under its own name and added to the map with the table.
void PutResultsInPlace(const RunRequest& r, OutputTable& output, h::FeatureClassPtr copy, std::string& copyName,
                       bool blnAddNewLayerToMap, RunCleanup& cleanup, frmProgress& window) {
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(r.folder);
    output.table.reset();
    h::TablePtr table = output.replacement->commit();

    if (!blnAddNewLayerToMap) {
        if (copy->canDelete()) {
            copy.reset();
            ws.deleteDataset(copyName);
        }
        cleanup.copyOnMap = true;  // deleted, or left in place when it cannot be
        return;
    }
    window.lblProgress().setCaption("Adding new shape to map");
    // The copy takes the name it is kept under (the alias, or alias_n) only
    // now: until here it bore a temporary name.
    const std::string keptName = chooseCopyName(r.folder, r.source->name(), r.tableName);
    copy.reset();
    copy = std::dynamic_pointer_cast<h::FeatureClass>(ws.renameDataset(copyName, keptName));
    if (!copy) h::failObjectNotSet();
    cleanup.copyName = copyName = keptName;
    auto workingLayer = std::make_shared<h::FeatureLayer>(copy, keptName);
    workingLayer->setVisible(true);
    r.map->addLayer(workingLayer);
    cleanup.copyOnMap = true;
    window.lblProgress().setCaption("Adding new table to map");
    Add_Table_TOC(r.map, table);
}

}  // namespace

void RunSpatialStats(h::Application* ArcMapApp, const std::string& ThemeName, const std::string& ClassField,
                     bool blnRaster, bool blnAddNewLayerToMap, const std::string& NewTableFileName, bool blnAppend,
                     const std::vector<std::string>& CheckedBoxes, bool blnLandscape, bool blnAsHectares,
                     h::Form* owner) {
    // ---- the request -----------------------------------------------------------
    std::optional<RunRequest> request = CheckRequest(ArcMapApp, ThemeName, ClassField, NewTableFileName, CheckedBoxes);
    if (!request) return;
    const RunRequest& r = *request;
    // From the first read of the output table to its commit, no other run
    // writes it; a second run waits and reads it anew.
    h::OutputLock tableLock(hfs::BuildPath(r.folder, r.tableName + ".dbf"));

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
    std::string copyName;
    h::FeatureClassPtr copy = MakeWorkingCopy(r, progress, cleanup, copyName);
    if (!copy) return;
    auto workingLayer = std::make_shared<h::FeatureLayer>(copy, copyName);
    progress.step();
    // The trimming, the support fields and the gathering of the patches
    // are one pass over the copy where it can be made so.
    std::optional<RunGroups> measured =
        MeasureInOnePass(r, *copy, ClassField, CheckedBoxes, blnRaster, blnLandscape, progressWindow, progress);
    SupportValues support;
    if (!measured) {
        TrimWorkingCopy(*copy, ClassField, progress);

        // ---- support fields --------------------------------------------------------
        if (!AddSupportData(copy, CheckedBoxes, blnRaster, progressWindow, &support)) return;
    }
    progress.start(0);

    // ---- units divisor -------------------------------------------------------------
    const int32_t divisor = UnitsDivisor(*r.map, blnAsHectares, progressWindow, progress);

    // ---- classes -------------------------------------------------------------------
    // The class values are gathered in the calculation pass below, in the
    // order in which the features first carry them.
    progressWindow.lblProgress().setCaption("Determining class list");
    progress.start(1);
    progress.step();

    // ---- output table and its metric fields ----------------------------------------
    OutputTable output;
    int32_t runNumber = 0;
    if (!PrepareOutputTable(r, NewTableFileName, blnAppend, CheckedBoxes.size(), progressWindow, progress, output,
                            runNumber))
        return;
    h::TablePtr table = output.table;

    // ---- calculations ----------------------------------------------------------------
    progressWindow.lblProgress().setCaption("Doing Calculations");
    progress.start(copy->rowCount() + 1);
    RunGroups groups;
    if (measured) {
        groups = std::move(*measured);
        measured.reset();
        progress.step(progress.max() - 1);
    } else {
        groups = GatherPatches(r, *copy, ClassField, blnLandscape, support, progress);
        support = SupportValues();
    }

    // Class values must be searchable in one form or the other (the first
    // class stands for all).
    std::optional<h::Value> testValue;
    if (!blnLandscape && groups.classes.size() > 0) testValue = groups.classes.values().front();
    if (blnLandscape && groups.diversityClasses.size() > 0) testValue = groups.diversityClasses.values().front();
    if (testValue && !getCursor(workingLayer, ClassWhereClause(ClassField, *testValue, false)) &&
        !getCursor(workingLayer, ClassWhereClause(ClassField, *testValue, true))) {
        MsgBox("Unable to search the layer.", h::mb::Critical, "RunSpatialStats SubFunction");
        return;
    }
    if (!WriteRows(r, *table, groups, ThemeName, blnLandscape, runNumber, divisor, progress)) return;

    // ---- results -------------------------------------------------------------------
    progressWindow.lblProgress().setCaption("Finished spatial calculations");
    table->flush();
    table.reset();
    workingLayer.reset();
    PutResultsInPlace(r, output, std::move(copy), copyName, blnAddNewLayerToMap, cleanup, progressWindow);
    progressWindow.unload();
    if (!blnLandscape) ReportNullsLeftOut(groups.nullClasses);
}

}  // namespace kv
