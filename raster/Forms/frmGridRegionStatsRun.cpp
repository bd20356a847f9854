// The region statistics run: checks the layers, fields, parameters and the
// output table; for each region value cuts the class grid to the region's
// window of whole cells and runs fragstat on it; reads every output file and
// only then writes the table (under a temporary name put in place after the
// last region); then the cross-tabulations, the response summary, the join to
// the regions, its export and the new layer. The region layer's selection is
// put back and the temporary grids are removed on every way out.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>
#include <filesystem>
#include <set>
#include <thread>

#include "host/OutputLock.h"
#include "host/Progress.h"
#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"
#include "host/data/RasterOperators.h"
#include "host/data/Relationship.h"
#include "host/data/Workspace.h"
#include "host/data/ZonalStatistics.h"
#include "raster/Forms/frmGridRegionStats.h"
#include "raster/Modules/UtilModule.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modGridOutput.h"
#include "raster/Modules/modRegionStats.h"
#include "raster/Modules/modRunFragStats.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

KV_MODULE("Forms/frmGridRegionStats");

namespace kv {

namespace h = korvane::host;
namespace hfs = korvane::host::fs;
namespace stdfs = std::filesystem;

namespace {

constexpr const char* kCRLF = "\r\n";

// Removes a temporary raster and its sidecars when it goes.
struct TemporaryRaster {
    h::RasterDatasetPtr raster;
    ~TemporaryRaster() { release(); }
    void release() { h::removeTemporaryRaster(raster); }
};

// The window of whole cells of the lattice that covers the envelope, clipped
// to the lattice; no columns when they do not meet.
h::RasterLattice windowOf(const h::RasterLattice& l, const h::Envelope& e) {
    h::RasterLattice w = l;
    w.columns = w.rows = 0;
    if (e.empty) return w;
    const double cx = l.cellSize, cy = l.cellY();
    auto clampTo = [](double v, int64_t hi) { return std::clamp<int64_t>(static_cast<int64_t>(v), 0, hi); };
    const int64_t c0 = clampTo(std::floor((e.xmin - l.xmin) / cx), l.columns);
    const int64_t c1 = clampTo(std::ceil((e.xmax - l.xmin) / cx), l.columns);
    const int64_t r0 = clampTo(std::floor((l.ymax - e.ymax) / cy), l.rows);
    const int64_t r1 = clampTo(std::ceil((l.ymax - e.ymin) / cy), l.rows);
    if (c1 <= c0 || r1 <= r0) return w;
    w.xmin = l.xmin + static_cast<double>(c0) * cx;
    w.ymax = l.ymax - static_cast<double>(r0) * cy;
    w.columns = c1 - c0;
    w.rows = r1 - r0;
    return w;
}

h::Envelope envelopeOf(const h::SelectionSet& selection) {
    h::Envelope all;
    h::Cursor rows = selection.search(nullptr, true);
    while (h::RowPtr r = rows.next()) {
        h::Envelope e = r->shape().envelope();
        if (e.empty) continue;
        if (all.empty) {
            all = e;
            continue;
        }
        all.xmin = std::min(all.xmin, e.xmin);
        all.ymin = std::min(all.ymin, e.ymin);
        all.xmax = std::max(all.xmax, e.xmax);
        all.ymax = std::max(all.ymax, e.ymax);
    }
    return all;
}

// Whether any file of a shapefile of that name is in the folder.
bool anyDatasetFile(const std::string& folder, const std::string& name) {
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg", ".sbn", ".sbx", ".qix", ".shp.xml"})
        if (hfs::FileExists(hfs::BuildPath(folder, name + ext))) return true;
    return false;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string frmGridRegionStats::RunFragStats(const h::RasterLayer& prlIn, bool blnMnn, bool blnCwed, bool blnDiag,
                                             const std::string& bufferDistance, const std::string& MPIValue,
                                             const std::string& BoundaryInfluence, const std::string& CWEDFileName,
                                             bool TrackErrors) {
    std::string result;
    KV_PROCEDURE("RunFragStats", TopLevel).run([&] {
        KV_LINE;
        // What the call before left goes first: a call that stops before
        // fragstat starts has no exit to report and no folder.
        runInfo_.reset();
        runFolder_.reset();
        const h::RasterDatasetPtr& raster = prlIn.raster();
        if (!raster) h::failObjectNotSet(KV_PROJECT_NAME);
        // Each call has a folder of its own.
        runFolder_ = std::make_unique<FragStatsFolder>();
        if (TrackErrors) runFolder_->keep();
        FragStatsSource source;
        source.name = prlIn.name();
        source.rows = raster->height();
        source.cols = raster->width();
        source.cellX = raster->cellSizeX();
        source.cellY = raster->cellSizeY();
        source.classValues = [&] {
            std::vector<int64_t> values;
            h::TablePtr table = raster->attributeTable();
            if (!table) return values;
            const int32_t at = table->findField("Value");
            h::Cursor rows = table->search(nullptr, true);
            while (h::RowPtr r = rows.next())
                if (!h::isNull(r->value(at))) values.push_back(static_cast<int64_t>(h::toDouble(r->value(at))));
            return values;
        };
        source.exportGrid = [&](const std::string& flt) { h::exportFloatGrid(*raster, flt.substr(0, flt.size() - 4)); };
        FragStatsOptions options;
        options.procedureName = "RunFragStats";
        options.modulePath = kvModulePath_;
        KV_LINE;
        runInfo_ = std::make_unique<FragStatsRunInfo>();
        result = kv::RunFragStats(*runFolder_, source, blnMnn, blnCwed, blnDiag, bufferDistance, MPIValue,
                                  BoundaryInfluence, CWEDFileName, TrackErrors, options, runInfo_.get());
    });
    return result;
}

// What the stages of one run share.
struct frmGridRegionStats::RegionRun {
    RegionRun(Procedure& proc, const std::string& rasterLayer, const std::string& classField,
              const std::string& regionLayer, const std::string& regionField, const std::string& classOrLand,
              const std::string& statsToRun, const std::string& outputTable, bool append, bool verboseRun,
              h::FeatureLayerPtr& regionLayerOut, std::optional<h::SelectionSet>& rememberedOut)
        : kvProc_(proc), strRasterLayer(rasterLayer), strClassField(classField), strRegionLayer(regionLayer),
          strRegionField(regionField), strClassOrLand(classOrLand), strStatsToRun(statsToRun),
          strOutputTable(outputTable), blnAppend(append), verbose(verboseRun), regions(regionLayerOut),
          remembered(rememberedOut) {}
    Procedure& kvProc_;   // the run's handler: KV_LINE marks its line
    // The request.
    const std::string& strRasterLayer;
    const std::string& strClassField;
    const std::string& strRegionLayer;
    const std::string& strRegionField;
    const std::string& strClassOrLand;
    const std::string& strStatsToRun;
    const std::string& strOutputTable;
    bool blnAppend;
    bool verbose;
    // On every way out the remembered selection goes back to these regions
    // and their join goes.
    h::FeatureLayerPtr& regions;
    std::optional<h::SelectionSet>& remembered;
    // Found and checked.
    h::MapPtr map;
    h::RasterDatasetPtr classGrid;
    h::FeatureClassPtr regionClass;
    int32_t regionAt = -1;
    h::FieldDef regionDef;
    bool textRegion = false;
    std::vector<std::string> codes;
    bool landscape = false, cls = false;
    bool blnCwed = false, blnMnn = false;
    std::string bufferDistance, mpi, boundary;
    bool response = false;
    std::shared_ptr<h::RasterLayer> responseLayer;
    std::vector<h::Value> regionValues;
    // Features without a region value are left out, counted in one message.
    int64_t valuesToRun = 0, withoutValue = 0;
    std::string tablePath, folder;
    // Held for the rest of the run: run numbers are taken from what is read
    // under it, and a second run on the table waits and reads it anew.
    std::unique_ptr<h::OutputLock> tableLock;
    GridStatsTableState state;
    // Made. The regions' folders are removed beside the run; it waits for
    // them as it ends.
    h::fs::FolderRemover removals;
    RegionStatsRows rows;
    std::set<int32_t> runs;
    h::TablePtr statsTable;
    h::TablePtr zonal;
    std::unique_ptr<FragStatsFolder> zonalFolder;
    h::TablePtr area;
    int32_t areaRun = 0;
};

bool frmGridRegionStats::RunGridRegionStats(const std::string& strRasterLayer, const std::string& strClassField,
                                            const std::string& strRegionLayer, const std::string& strRegionField,
                                            const std::string& strClassOrLand, bool blnAsClass,
                                            const std::string& strStatsToRun, const std::string& strOutputTable,
                                            bool blnAppend, const std::string& strVerbose) {
    (void)blnAsClass;
    bool finished = false;
    h::FeatureLayerPtr regions;
    std::optional<h::SelectionSet> remembered;
    // On every way out: the remembered selection back, the join gone.
    struct Restore {
        h::FeatureLayerPtr& layer;
        std::optional<h::SelectionSet>& selection;
        ~Restore() {
            if (!layer) return;
            layer->removeJoin();
            if (selection) layer->setSelectionSet(*selection);
        }
    } restore{regions, remembered};

    KV_PROCEDURE("RunGridRegionStats", TopLevel).run([&] {
        RegionRun run(kvProc_, strRasterLayer, strClassField, strRegionLayer, strRegionField, strClassOrLand,
                      strStatsToRun, strOutputTable, blnAppend,
                      strVerbose == "True" || strVerbose == "true" || strVerbose == "1", regions, remembered);
        run.map = Map();
        if (!run.map) h::failObjectNotSet(KV_PROJECT_NAME);
        if (!FindRegionRunLayers(run) || !CheckRegionRunRequest(run) || !ListRegionValues(run) ||
            !MeasureRegions(run) || !WriteRegionRunTable(run))
            return;
        SummariseRegionResponse(run);
        if (!WriteRegionCrossTabs(run)) return;
        JoinRegionResults(run);
        finished = true;
    });
    return finished;
}

bool frmGridRegionStats::FindRegionRunLayers(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- the class grid, its field, the regions and their field -----------------------------
    status("Checking for class layer existence", "");
    KV_LINE;
    std::shared_ptr<h::RasterLayer> classLayer;
    for (const h::LayerPtr& l : run.map->layers())
        if (l->name() == run.strRasterLayer && (classLayer = std::dynamic_pointer_cast<h::RasterLayer>(l))) break;
    if (!classLayer || !classLayer->raster()) {
        MsgBox("Could not find raster layer " + run.strRasterLayer, h::mb::Critical, "Missing Layer");
        return false;
    }
    run.classGrid = classLayer->raster();
    {
        // fragstat measures square cells only: the grid statistics' refusal.
        FragStatsSource cells;
        cells.name = run.strRasterLayer;
        cells.cellX = run.classGrid->cellSizeX();
        cells.cellY = run.classGrid->cellSizeY();
        const std::string problem = FragStatsSourceProblem(cells, {});
        if (!problem.empty()) {
            MsgBox(problem, h::mb::Exclamation, "Cannot Continue");
            return false;
        }
    }
    status("Checking for class field existence");
    KV_LINE;
    h::TablePtr classTable = GetRasterTable(run.classGrid);
    if (!classTable || classTable->findField(run.strClassField) < 0) {
        MsgBox("Cannot find field '" + run.strClassField + "' in the grid.  Cannot continue.", h::mb::Critical,
               "Missing Field");
        return false;
    }
    status("Checking for region layer existence");
    KV_LINE;
    for (const h::LayerPtr& l : run.map->layers())
        if (l->name() == run.strRegionLayer && (run.regions = std::dynamic_pointer_cast<h::FeatureLayer>(l))) break;
    if (!run.regions || !run.regions->featureClass()) {
        run.regions.reset();
        MsgBox("Could not find region layer " + run.strRegionLayer, h::mb::Critical, "Missing Layer");
        return false;
    }
    run.regionClass = run.regions->featureClass();
    status("Checking for region field existence");
    KV_LINE;
    run.regionAt = run.regionClass->findField(run.strRegionField);
    if (run.regionAt < 0) {
        MsgBox("Cannot find field '" + run.strRegionField + "' in the feature layer.  Cannot continue.",
               h::mb::Critical, "Missing Field");
        return false;
    }
    run.regionDef = run.regionClass->fields().field(run.regionAt);
    if (run.regionDef.type == h::FieldOID) run.regionDef = {run.regionDef.name, h::FieldInteger, 0, 9, 0};
    run.textRegion = run.regionDef.type == h::FieldString;
    return true;
}

bool frmGridRegionStats::CheckRegionRunRequest(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- the request and the parameters ---------------------------------------------------------
    KV_LINE;
    const std::vector<std::string>& codes = run.codes = RegionRequestedCodes(run.strStatsToRun);
    run.landscape = run.strClassOrLand.find('L') != std::string::npos;
    run.cls = run.strClassOrLand.find('C') != std::string::npos;
    if (!run.landscape && !run.cls) {
        MsgBox("You need to have at least Landscape or Class chosen to be analyzed by", h::mb::OKOnly,
               "Missing Choice");
        return false;
    }
    if (std::find(codes.begin(), codes.end(), "CA") == codes.end() ||
        std::find(codes.begin(), codes.end(), "TE") == codes.end()) {
        MsgBox("The cross-tabulations sum the metrics CA and TE: the list must hold both.  Cannot continue.",
               h::mb::OKOnly, "Missing Information");
        return false;
    }
    for (const std::string& taken : {std::string("Name"), std::string("RunDate"), std::string("Run"),
                                     std::string("Class"), std::string("ClassProp"), std::string("ClassHist")})
        if (h::sameFieldName(taken, run.strRegionField) ||
            std::any_of(codes.begin(), codes.end(),
                        [&](const std::string& c) { return h::sameFieldName(c, run.strRegionField); })) {
            MsgBox("The region field " + run.strRegionField +
                       " has the name of another field of the statistics table.  Cannot continue.",
                   h::mb::Exclamation, "Cannot Continue");
            return false;
        }
    run.blnCwed = run.strStatsToRun.find("CWED") != std::string::npos;
    run.blnMnn =
        run.strStatsToRun.find("MNN") != std::string::npos || run.strStatsToRun.find("MPI") != std::string::npos;
    run.bufferDistance = get<h::TextBox>("txtBufferDistance").text();
    run.mpi = get<h::TextBox>("txtMPI").text();
    run.boundary = get<h::TextBox>("txtBoundaryInfl").text();
    std::string problem = FragStatsParameterProblem(run.bufferDistance, run.mpi, run.boundary);
    if (!problem.empty()) {
        MsgBox(problem, h::mb::Exclamation, "Invalid Parameter");
        return false;
    }
    auto& cwedBox = get<h::TextBox>("txtCWEDFilename");
    if (!cwedBox.text().empty() && !hfs::FileExists(cwedBox.text())) {
        MsgBox(cwedBox.text() + " could not be found.  Using no file instead.", h::mb::OKOnly);
        cwedBox.setText("");
    }

    // The regions and the response grid must lie in the grid's coordinate system.
    KV_LINE;
    if (!h::sameCoordinateSystem(run.regionClass->spatialReference(), run.classGrid->spatialReference())) {
        MsgBox("The region layer " + run.strRegionLayer + " is in another coordinate system than the grid " +
                   run.strRasterLayer + ".  Cannot continue.",
               h::mb::Exclamation, "Cannot Continue");
        return false;
    }
    run.response = get<h::CheckBox>("chkCaptureResponseLayer").checked();
    if (run.response) {
        const std::string responseName = get<h::ComboBox>("cboResponseLayer").text();
        h::LayerPtr found = FindLayerByName(run.map, responseName);
        if (!found) {
            MsgBox("Could not find Response theme " + responseName, h::mb::OKOnly, "Missing Layer");
        } else {
            run.responseLayer = std::dynamic_pointer_cast<h::RasterLayer>(found);
            if (!run.responseLayer || !run.responseLayer->raster())
                h::fail(h::err::TypeMismatch, KV_PROJECT_NAME, responseName + " is not a raster layer.");
            if (!h::sameCoordinateSystem(run.regionClass->spatialReference(),
                                         run.responseLayer->raster()->spatialReference())) {
                MsgBox("The region layer " + run.strRegionLayer + " is in another coordinate system than the "
                       "response grid " + responseName + ".  Cannot continue.",
                       h::mb::Exclamation, "Cannot Continue");
                return false;
            }
        }
    }
    return true;
}

bool frmGridRegionStats::ListRegionValues(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- the region values and the remembered selection ---------------------------------------------
    status("Creating a list of region values");
    KV_LINE;
    // A region without a value (null) is no region: its features are
    // left out of the run, counted in one message at its end.
    auto keyOf = [](const h::Value& v) { return (h::isNumber(v) ? "n" : "t") + h::toText(v); };
    {
        std::set<std::string> seen;
        h::Cursor rows = run.regions->search(nullptr, true);
        while (h::RowPtr r = rows.next()) {
            const h::Value& v = r->value(run.regionAt);
            if (!h::isNull(v) && seen.insert(keyOf(v)).second) run.regionValues.push_back(v);
        }
    }
    status("Creating a list of class values");
    KV_LINE;
    if (run.regions->selectionSet().empty()) run.regions->selectFeatures(nullptr, h::SelectionMethod::New);
    run.remembered = run.regions->selectionSet();
    {
        std::set<std::string> seen;
        h::Cursor rows = run.remembered->search(nullptr, true);
        while (h::RowPtr r = rows.next()) {
            const h::Value& v = r->value(run.regionAt);
            if (h::isNull(v)) ++run.withoutValue;
            else if (seen.insert(keyOf(v)).second) ++run.valuesToRun;
        }
    }
    if (run.valuesToRun == 0) {
        const int64_t features = run.regionClass->rowCount();
        MsgBox(features == 0 ? fmt::format("The region layer {} has no features, so there is no region to run.  "
                                           "Nothing was written.",
                                           run.strRegionLayer)
                             : fmt::format("No {}feature of the region layer {} has a value of {}, so there is no "
                                           "region to run.  Nothing was written.",
                                           run.remembered->count() < features ? "selected " : "", run.strRegionLayer,
                                           run.strRegionField),
               h::mb::Exclamation, "No Regions");
        return false;
    }

    // ---- the output table, checked before anything is written ---------------------------------------
    status("Creating a list of class values", "Setting up the output table");
    KV_LINE;
    run.tablePath = GridStatsTablePath(run.strOutputTable);
    run.tableLock = std::make_unique<h::OutputLock>(run.tablePath);
    run.state = CheckRegionStatsTable(run.tablePath, run.blnAppend, run.valuesToRun,
                                      run.regionDef.name);
    if (!run.state.refusal.empty()) {
        MsgBox(run.state.refusal, h::mb::Exclamation, run.state.refusalTitle);
        return false;
    }
    run.folder = stdfs::path(run.tablePath).parent_path().string();
    return true;
}

// One region between the start of its fragstat run and the reading of its
// files: everything its reading needs.
struct frmGridRegionStats::RegionInFlight {
    int64_t index = 0;
    h::Value value;
    std::string regionStatus;
    std::unique_ptr<FragStatsFolder> folder;   // goes when the files are read
    FragStatsRunInfo info;
    h::StartedProgram program;                 // waited for before the files are read
    std::string base;                          // empty: fragstat was not started
};

bool frmGridRegionStats::MeasureRegions(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- region by region ------------------------------------------------------------------------------
    // Each region's grid is cut and fragstat started on it in region order;
    // several runs go on at once (one at a time when verbose, where every
    // region speaks), and their files are read in region order, so the
    // table, the run numbers and the first region that fails are as one run
    // after another gives them. A region that would show a message first
    // waits for the regions before it.
    KV_LINE;
    const int64_t n = static_cast<int64_t>(run.regionValues.size());
    const size_t width = run.verbose ? 1 : std::max<size_t>(1, std::thread::hardware_concurrency());
    int32_t runBase = run.state.lastRun;
    std::deque<RegionInFlight> inFlight;
    // The regions done, drawn on a progress window: those before the oldest
    // region still running.
    StageProgress progress;
    progress.stage("Measuring the regions by " + run.strRegionField);
    int64_t reported = 0;
    auto report = [&](int64_t done) {
        if (done <= reported) return;
        reported = done;
        h::reportProgress(static_cast<double>(done) / static_cast<double>(n));
    };
    auto finishOldest = [&] {
        RegionInFlight region = std::move(inFlight.front());
        inFlight.pop_front();
        if (!FinishRegion(run, region, runBase)) return false;
        report(inFlight.empty() ? region.index + 1 : inFlight.front().index);
        return true;
    };
    bool stopped = false;   // a region ended the run, after its message
    std::function<bool()> drain = [&] {
        while (!inFlight.empty())
            if (!finishOldest()) return !(stopped = true);
        return true;
    };
    for (int64_t i = 0; i < n; ++i) {
        while (inFlight.size() >= width)
            if (!finishOldest()) return false;
        std::optional<RegionInFlight> started;
        std::exception_ptr failure;
        try {
            started = StartRegion(run, i, drain);
        } catch (...) {
            failure = std::current_exception();
        }
        if (stopped) return false;
        if (failure) {
            // One run after another would have stopped at an earlier region.
            if (!drain()) return false;
            std::rethrow_exception(failure);
        }
        if (!started) {
            if (inFlight.empty()) report(i + 1);
            continue;
        }
        if (started->base.empty() && !drain()) return false;   // its message comes after the earlier regions'
        inFlight.push_back(std::move(*started));
    }
    if (!drain()) return false;
    report(n);
    run.regions->setSelectionSet(*run.remembered);
    return true;
}

// Selects the region, cuts the class grid to it and starts fragstat on the
// cut; nothing for a region without features or cells. `drain` finishes the
// regions started before, false when one of them ended the run (which a
// region calls before it shows a message of its own).
std::optional<frmGridRegionStats::RegionInFlight> frmGridRegionStats::StartRegion(RegionRun& run, int64_t i,
                                                                                  const std::function<bool()>& drain) {
    Procedure& kvProc_ = run.kvProc_;
    const int64_t n = static_cast<int64_t>(run.regionValues.size());
    RegionInFlight region;
    region.index = i;
    region.value = run.regionValues[static_cast<size_t>(i)];
    const std::string valueText = RegionValueText(region.value);
    region.regionStatus = RegionStatusText(run.strRegionField, valueText, i, n);
    status(region.regionStatus, "Querying out " + valueText + " from " + run.strRegionField);
    KV_LINE;
    const h::QueryFilter where(RegionWhereClause(run.strRegionField, run.textRegion, region.value));
    h::SelectionSet selection = *run.remembered;
    selection.select(&where, h::SelectionMethod::Intersect);
    run.regions->setSelectionSet(selection);
    if (selection.empty()) return std::nullopt;

    status(region.regionStatus, "Creating a new raster from the selected grids");
    KV_LINE;
    const h::RasterLattice lattice = h::latticeOf(*run.classGrid);
    const h::RasterLattice window = windowOf(lattice, envelopeOf(selection));
    if (window.columns == 0) return std::nullopt;
    h::RasterAnalysisEnvironment env;
    env.setCellSizeFrom(*run.classGrid);
    env.setExtent(h::EnvValue, window.extent());
    const h::RasterLattice cutLattice = env.outputLattice(*run.classGrid);
    // The region's own work reports nothing on the run's progress window.
    std::optional<h::ProgressScope> quiet;
    quiet.emplace(h::ProgressFunction{});

    FragStatsSource source;
    source.name = run.strRasterLayer;
    std::vector<int64_t> classes;
    std::optional<h::Failure> exportFailure;
    TemporaryRaster cut;
    region.folder = std::make_unique<FragStatsFolder>(&run.removals);
    if (run.verbose) region.folder->keep();
    const bool direct = h::cutsToFloatGrid(*run.classGrid) && cutLattice.xmin == window.xmin &&
                        cutLattice.ymax == window.ymax && cutLattice.columns == window.columns &&
                        cutLattice.rows == window.rows && cutLattice.cellSize == window.cellSize &&
                        cutLattice.cellY() == window.cellY();
    if (direct) {
        // The cut is written as fragstat's input at once: the cells whose
        // centres the selected features cover, whatever their region value.
        std::vector<h::ValueCount> counts;
        try {
            counts = h::cutToFloatGrid(*run.classGrid, run.regionClass, &selection, window, region.folder->base());
            if (counts.empty()) return std::nullopt;
        } catch (const h::Failure& f) {
            exportFailure = f;
        }
        for (const h::ValueCount& c : counts) classes.push_back(c.value);
        source.rows = window.rows;
        source.cols = window.columns;
        source.cellX = window.cellSize;
        source.cellY = window.cellY();
        source.exportGrid = [&](const std::string&) {
            if (exportFailure) throw *exportFailure;
        };
    } else {
        // The mask on the class grid's own cells, by object id: every
        // selected feature counts, whatever its region value.
        TemporaryRaster mask;
        mask.raster = h::featuresToRaster(run.regionClass, &selection, run.regionClass->oidFieldName(), window,
                                          env, {}, run.classGrid->spatialReference());
        cut.raster = h::conditional(mask.raster, run.classGrid, env);
        mask.release();
        h::TablePtr cutTable = cut.raster->attributeTable();
        if (!cutTable || cutTable->rowCount() == 0) return std::nullopt;
        const int32_t at = cutTable->findField("Value");
        h::Cursor rows = cutTable->search(nullptr, true);
        while (h::RowPtr r = rows.next())
            if (!h::isNull(r->value(at))) classes.push_back(static_cast<int64_t>(h::toDouble(r->value(at))));
        source.rows = cut.raster->height();
        source.cols = cut.raster->width();
        source.cellX = cut.raster->cellSizeX();
        source.cellY = cut.raster->cellSizeY();
        const h::RasterDataset& raster = *cut.raster;
        source.exportGrid = [&](const std::string& flt) { h::exportFloatGrid(raster, flt.substr(0, flt.size() - 4)); };
    }
    source.classValues = [&] { return classes; };
    quiet.reset();

    status(region.regionStatus, "Running fragstats against selection");
    KV_LINE;
    const std::string cwed = get<h::TextBox>("txtCWEDFilename").text();
    const bool speaks = run.verbose || (run.blnCwed && !cwed.empty() && !hfs::FileExists(cwed)) ||
                        !FragStatsSourceProblem(source, classes).empty();
    if (speaks && !drain()) return std::nullopt;
    FragStatsOptions options;
    options.procedureName = "RunFragStats";
    options.modulePath = kvModulePath_;
    options.started = &region.program;
    region.base = kv::RunFragStats(*region.folder, source, run.blnMnn, run.blnCwed, true, run.bufferDistance,
                                   run.mpi, run.boundary, cwed, run.verbose, options, &region.info);
    return region;
}

// Waits for the region's fragstat, reads its files and adds its rows under
// the next run number; false, after a message, when they cannot be used.
bool frmGridRegionStats::FinishRegion(RegionRun& run, RegionInFlight& region, int32_t& runBase) {
    Procedure& kvProc_ = run.kvProc_;
    if (region.program.started()) WaitForFragStats(region.program, *region.folder, &region.info);
    status(region.regionStatus, "Processing the fragstats output");
    KV_LINE;
    std::optional<std::vector<GridStatsFile>> files = ReadRegionFiles(run, region);
    if (!files) return false;
    region.folder.reset();   // read: the folder goes
    auto& valueStatus = get<h::Label>("lblStatus2");
    ForEachRegionValue(*files, run.codes, [&](const std::string& column, const std::string& token) {
        valueStatus.setCaption(column + " :: " + token);
    });
    ++runBase;
    std::string problem = AddRegionRows(run.rows, *files, run.codes, runBase, region.value);
    if (!problem.empty()) {
        MsgBox(fmt::format("The fragstat output cannot be stored: {}.{}Nothing was written to the table.", problem,
                           kCRLF),
               h::mb::Exclamation, "Cannot Continue");
        return false;
    }
    run.runs.insert(runBase);
    run.regions->setSelectionSet(*run.remembered);
    return true;
}

std::optional<std::vector<GridStatsFile>> frmGridRegionStats::ReadRegionFiles(RegionRun& run,
                                                                               const RegionInFlight& region) {
    const std::string& base = region.base;
    const FragStatsRunInfo& info = region.info;
    std::vector<GridStatsFile> files;
    for (bool land : {true, false}) {
        if ((land && !run.landscape) || (!land && !run.cls)) continue;
        const std::string path = base.empty() ? std::string() : base + (land ? ".land" : ".class");
        // A program that failed is not trusted with what it may have left.
        const bool failed = info.exitCode != 0;
        if (path.empty() || failed || !hfs::FileExists(path)) {
            std::string text = FragStatsMissingOutputMessage(run.verbose);
            if (run.verbose && info.exitCode != -1) text += FragStatsExitReport(info, region.folder->path());
            MsgBox(text, h::mb::Exclamation);
            return std::nullopt;
        }
        std::optional<GridStatsFile> file = ReadGridStatsFile(path, land);
        if (!file) return std::nullopt;
        files.push_back(std::move(*file));
    }
    return files;
}

bool frmGridRegionStats::WriteRegionRunTable(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- the table, put in place after the last region ----------------------------------------------------
    KV_LINE;
    try {
        run.statsTable =
            WriteRegionStatsTable(run.tablePath, run.blnAppend, run.strRasterLayer, run.regionDef, run.rows);
    } catch (const h::Failure& f) {
        MsgBox(fmt::format("The table {} could not be written: {}{}It is as it was before the run.", run.tablePath,
                           f.description(), kCRLF),
               h::mb::Exclamation, "File Access Error");
        return false;
    }
    if (run.verbose) MsgBox("Statistics table successfully created", h::mb::Information, "Success");
    status("Statistics table successfully created", "");
    get<h::OptionButton>("optAppend").setValue(true);
    get<h::OptionButton>("optAppend").setEnabled(true);
    get<h::OptionButton>("optOverwrite").setEnabled(true);
    return true;
}

void frmGridRegionStats::SummariseRegionResponse(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- the response summary ----------------------------------------------------------------------------------
    if (!run.responseLayer) return;
    status("Running zonal statistics against output", "");
    KV_LINE;
    h::RasterAnalysisEnvironment env;
    env.setCellSizeFrom(*run.responseLayer->raster());
    env.setExtentFrom(*run.responseLayer->raster());
    // Written in a private folder: no user dataset can be in its way.
    run.zonalFolder = std::make_unique<FragStatsFolder>();
    const std::string first = hfs::BuildPath(run.zonalFolder->path(), "zonal.dbf");
    run.zonal = h::zonalStatisticsAsTable(run.regionClass, run.strRegionField, run.responseLayer->raster(), false,
                                          first, env);
    std::string name = "RgnStats-SummaryOf" + upper(run.strRegionLayer);
    if (name.size() > 32) name = ("RgnStats-SummOf" + upper(run.strRegionLayer)).substr(0, 32);
    h::ShapefileWorkspace zws = h::ShapefileWorkspace::open(run.zonalFolder->path());
    for (const std::string& other : zws.datasetNames())
        if (upper(other) == upper(name)) zws.deleteDataset(other);
    run.zonal.reset();
    run.zonal = zws.renameDataset("zonal", name);
}

bool frmGridRegionStats::WriteRegionCrossTabs(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- the cross-tabulations of this call's rows --------------------------------------------------------
    status("Setting up cross tabs", "To show proportion of each class");
    KV_LINE;
    h::TablePtr hist = CrossTab(run.statsTable, "ClassHist", "Class", run.runs);
    if (!hist) return false;
    Add_Table_TOC(hist);
    status("Setting up cross tabs", "To show total area in each class");
    run.area = CrossTabArea(run.statsTable, run.strRegionField, "Class", "CA", "SStatsByRgns--ClassAreaCrosstab",
                            run.runs, &run.areaRun);
    if (!run.area) return false;
    Add_Table_TOC(run.area);
    status("Setting up cross tabs", "To show total edge for each class");
    h::TablePtr edge =
        CrossTabArea(run.statsTable, run.strRegionField, "Class", "TE", "SStatsByRgns--TotalEdgeCrosstab", run.runs);
    if (!edge) return false;
    Add_Table_TOC(edge);
    return true;
}

void frmGridRegionStats::JoinRegionResults(RegionRun& run) {
    Procedure& kvProc_ = run.kvProc_;
    // ---- the join, its export and the new layer ----------------------------------------------------------
    status("Joining data to the regions theme", "");
    KV_LINE;
    h::MemoryRelationshipClassPtr rel;
    const bool joinZonal = run.response && run.zonal;
    if (joinZonal) {
        status("Joining the response statistics to the regions theme");
        rel = h::MemoryRelationshipClass::open("TabletoLayer", run.regionClass, run.strRegionField, run.zonal,
                                               run.strRegionField);
    } else {
        const h::QueryFilter thisRun("Run = " + std::to_string(run.areaRun));
        rel = h::MemoryRelationshipClass::open("TabletoLayer", run.regionClass, run.strRegionField, run.area,
                                               run.strRegionField, &thisRun);
    }
    run.regions->displayRelationshipClass(rel, h::JoinType::LeftOuter);

    status("Export the join to a new shapefile (join.shp)");
    KV_LINE;
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(run.folder);
    // A run on another table of this folder picks its join's name too: the
    // name is chosen and the export put in place under one lock, so that two
    // runs at once never take the same name.
    h::OutputLock joinNames(stdfs::path(run.folder) / "Join.shp");
    std::string joinName = "Join";
    for (int k = 1; anyDatasetFile(run.folder, joinName); ++k) joinName = "Join" + std::to_string(k);
    // The fields the new layer does not need are left out of the export,
    // which is written whole under a temporary name, once.
    std::vector<std::string> drop =
        joinZonal ? std::vector<std::string>{"Min", "Max", "Minority", "Range", "Std", "Variety", "Majority",
                                             "Median", "Area", "Sum", "Count", "Name", "RunDate", "Class-All",
                                             "Run"}
                  : std::vector<std::string>{"Class-All", "Name", "RunDate", "Run", "oid_",
                                             h::dbfFieldNameFor(run.strRegionField, {run.strRegionField})};
    h::FeatureClassPtr joined = h::exportJoinedLayer(*run.regions, &*run.remembered, ws, joinName, drop);
    status("Loading the new join shapefile onto the map");
    status("Removing the joins from the region layer");
    run.regions->removeJoin();
    run.zonal.reset();
    run.zonalFolder.reset();
    status("Cleaning out unneeded fields");

    auto layer = std::make_shared<h::FeatureLayer>(joined, "Regions analysis of " + run.strRasterLayer + " (" +
                                                               run.strClassField + ") by " + run.strRegionLayer);
    if (joinZonal && joined->findField("Mean") >= 0)
        layer->setFieldAlias(joined->fields().field(joined->findField("Mean")).name, "MeanResponse");
    if (run.response) layer->setVisible(false);
    run.map->addLayer(layer);
    if (run.withoutValue > 0)
        MsgBox(fmt::format("{} {} of {} without a value of {} (null) {} left out of the run and of the join.",
                           run.withoutValue, run.withoutValue == 1 ? "feature" : "features", run.strRegionLayer,
                           run.strRegionField, run.withoutValue == 1 ? "was" : "were"),
               h::mb::Information, "Regions Left Out");
    status("Finished");
}

}  // namespace kv
