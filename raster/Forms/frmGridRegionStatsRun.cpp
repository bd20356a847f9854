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
#include <filesystem>
#include <set>

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
        const bool verbose = strVerbose == "True" || strVerbose == "true" || strVerbose == "1";
        h::MapPtr map = Map();
        if (!map) h::failObjectNotSet(KV_PROJECT_NAME);

        // ---- the class grid, its field, the regions and their field -----------------------------
        status("Checking for class layer existence", "");
        KV_LINE;
        std::shared_ptr<h::RasterLayer> classLayer;
        for (const h::LayerPtr& l : map->layers())
            if (l->name() == strRasterLayer && (classLayer = std::dynamic_pointer_cast<h::RasterLayer>(l))) break;
        if (!classLayer || !classLayer->raster()) {
            MsgBox("Could not find raster layer " + strRasterLayer, h::mb::Critical, "Missing Layer");
            return;
        }
        h::RasterDatasetPtr classGrid = classLayer->raster();
        {
            // fragstat measures square cells only: the grid statistics' refusal.
            FragStatsSource cells;
            cells.name = strRasterLayer;
            cells.cellX = classGrid->cellSizeX();
            cells.cellY = classGrid->cellSizeY();
            const std::string problem = FragStatsSourceProblem(cells, {});
            if (!problem.empty()) {
                MsgBox(problem, h::mb::Exclamation, "Cannot Continue");
                return;
            }
        }
        status("Checking for class field existence");
        KV_LINE;
        h::TablePtr classTable = GetRasterTable(classGrid);
        if (!classTable || classTable->findField(strClassField) < 0) {
            MsgBox("Cannot find field '" + strClassField + "' in the grid.  Cannot continue.", h::mb::Critical,
                   "Missing Field");
            return;
        }
        status("Checking for region layer existence");
        KV_LINE;
        for (const h::LayerPtr& l : map->layers())
            if (l->name() == strRegionLayer && (regions = std::dynamic_pointer_cast<h::FeatureLayer>(l))) break;
        if (!regions || !regions->featureClass()) {
            regions.reset();
            MsgBox("Could not find region layer " + strRegionLayer, h::mb::Critical, "Missing Layer");
            return;
        }
        h::FeatureClassPtr regionClass = regions->featureClass();
        status("Checking for region field existence");
        KV_LINE;
        const int32_t regionAt = regionClass->findField(strRegionField);
        if (regionAt < 0) {
            MsgBox("Cannot find field '" + strRegionField + "' in the feature layer.  Cannot continue.",
                   h::mb::Critical, "Missing Field");
            return;
        }
        h::FieldDef regionDef = regionClass->fields().field(regionAt);
        if (regionDef.type == h::FieldOID) regionDef = {regionDef.name, h::FieldInteger, 0, 9, 0};
        const bool textRegion = regionDef.type == h::FieldString;

        // ---- the request and the parameters ---------------------------------------------------------
        KV_LINE;
        const std::vector<std::string> codes = RegionRequestedCodes(strStatsToRun);
        const bool landscape = strClassOrLand.find('L') != std::string::npos;
        const bool cls = strClassOrLand.find('C') != std::string::npos;
        if (!landscape && !cls) {
            MsgBox("You need to have at least Landscape or Class chosen to be analyzed by", h::mb::OKOnly,
                   "Missing Choice");
            return;
        }
        if (std::find(codes.begin(), codes.end(), "CA") == codes.end() ||
            std::find(codes.begin(), codes.end(), "TE") == codes.end()) {
            MsgBox("The cross-tabulations sum the metrics CA and TE: the list must hold both.  Cannot continue.",
                   h::mb::OKOnly, "Missing Information");
            return;
        }
        for (const std::string& taken : {std::string("Name"), std::string("RunDate"), std::string("Run"),
                                         std::string("Class"), std::string("ClassProp"), std::string("ClassHist")})
            if (h::sameFieldName(taken, strRegionField) ||
                std::any_of(codes.begin(), codes.end(), [&](const std::string& c) { return h::sameFieldName(c, strRegionField); })) {
                MsgBox("The region field " + strRegionField +
                           " has the name of another field of the statistics table.  Cannot continue.",
                       h::mb::Exclamation, "Cannot Continue");
                return;
            }
        const bool blnCwed = strStatsToRun.find("CWED") != std::string::npos;
        const bool blnMnn =
            strStatsToRun.find("MNN") != std::string::npos || strStatsToRun.find("MPI") != std::string::npos;
        const std::string bufferDistance = get<h::TextBox>("txtBufferDistance").text();
        const std::string mpi = get<h::TextBox>("txtMPI").text();
        const std::string boundary = get<h::TextBox>("txtBoundaryInfl").text();
        std::string problem = FragStatsParameterProblem(bufferDistance, mpi, boundary);
        if (!problem.empty()) {
            MsgBox(problem, h::mb::Exclamation, "Invalid Parameter");
            return;
        }
        auto& cwedBox = get<h::TextBox>("txtCWEDFilename");
        if (!cwedBox.text().empty() && !hfs::FileExists(cwedBox.text())) {
            MsgBox(cwedBox.text() + " could not be found.  Using no file instead.", h::mb::OKOnly);
            cwedBox.setText("");
        }

        // The regions and the response grid must lie in the grid's coordinate system.
        KV_LINE;
        if (!h::sameCoordinateSystem(regionClass->spatialReference(), classGrid->spatialReference())) {
            MsgBox("The region layer " + strRegionLayer + " is in another coordinate system than the grid " +
                       strRasterLayer + ".  Cannot continue.",
                   h::mb::Exclamation, "Cannot Continue");
            return;
        }
        const bool response = get<h::CheckBox>("chkCaptureResponseLayer").checked();
        std::shared_ptr<h::RasterLayer> responseLayer;
        if (response) {
            const std::string responseName = get<h::ComboBox>("cboResponseLayer").text();
            h::LayerPtr found = FindLayerByName(map, responseName);
            if (!found) {
                MsgBox("Could not find Response theme " + responseName, h::mb::OKOnly, "Missing Layer");
            } else {
                responseLayer = std::dynamic_pointer_cast<h::RasterLayer>(found);
                if (!responseLayer || !responseLayer->raster())
                    h::fail(h::err::TypeMismatch, KV_PROJECT_NAME, responseName + " is not a raster layer.");
                if (!h::sameCoordinateSystem(regionClass->spatialReference(),
                                             responseLayer->raster()->spatialReference())) {
                    MsgBox("The region layer " + strRegionLayer + " is in another coordinate system than the "
                           "response grid " + responseName + ".  Cannot continue.",
                           h::mb::Exclamation, "Cannot Continue");
                    return;
                }
            }
        }

        // ---- the region values and the remembered selection ---------------------------------------------
        status("Creating a list of region values");
        KV_LINE;
        // A region without a value (null) is no region: its features are
        // left out of the run, counted in one message at its end.
        std::vector<h::Value> regionValues;
        auto keyOf = [](const h::Value& v) { return (h::isNumber(v) ? "n" : "t") + h::toText(v); };
        {
            std::set<std::string> seen;
            h::Cursor rows = regions->search(nullptr, true);
            while (h::RowPtr r = rows.next()) {
                const h::Value& v = r->value(regionAt);
                if (!h::isNull(v) && seen.insert(keyOf(v)).second) regionValues.push_back(v);
            }
        }
        status("Creating a list of class values");
        KV_LINE;
        if (regions->selectionSet().empty()) regions->selectFeatures(nullptr, h::SelectionMethod::New);
        remembered = regions->selectionSet();
        int64_t valuesToRun = 0, withoutValue = 0;
        {
            std::set<std::string> seen;
            h::Cursor rows = remembered->search(nullptr, true);
            while (h::RowPtr r = rows.next()) {
                const h::Value& v = r->value(regionAt);
                if (h::isNull(v)) ++withoutValue;
                else if (seen.insert(keyOf(v)).second) ++valuesToRun;
            }
        }
        if (valuesToRun == 0) {
            const int64_t features = regionClass->rowCount();
            MsgBox(features == 0 ? fmt::format("The region layer {} has no features, so there is no region to run.  "
                                               "Nothing was written.",
                                               strRegionLayer)
                                 : fmt::format("No {}feature of the region layer {} has a value of {}, so there is no "
                                               "region to run.  Nothing was written.",
                                               remembered->count() < features ? "selected " : "", strRegionLayer,
                                               strRegionField),
                   h::mb::Exclamation, "No Regions");
            return;
        }

        // ---- the output table, checked before anything is written ---------------------------------------
        status("Creating a list of class values", "Setting up the output table");
        KV_LINE;
        const std::string tablePath = GridStatsTablePath(strOutputTable);
        GridStatsTableState state =
            CheckRegionStatsTable(tablePath, blnAppend, valuesToRun);
        if (!state.refusal.empty()) {
            MsgBox(state.refusal, h::mb::Exclamation, state.refusalTitle);
            return;
        }
        const std::string folder = stdfs::path(tablePath).parent_path().string();

        // ---- region by region ------------------------------------------------------------------------------
        KV_LINE;
        const h::RasterLattice lattice = h::latticeOf(*classGrid);
        RegionStatsRows rows;
        std::set<int32_t> runs;
        int32_t runBase = state.lastRun;
        const int64_t n = static_cast<int64_t>(regionValues.size());
        for (int64_t i = 0; i < n; ++i) {
            const h::Value& value = regionValues[static_cast<size_t>(i)];
            const std::string valueText = RegionValueText(value);
            status(RegionStatusText(strRegionField, valueText, i, n),
                   "Querying out " + valueText + " from " + strRegionField);
            KV_LINE;
            const h::QueryFilter where(RegionWhereClause(strRegionField, textRegion, value));
            h::SelectionSet selection = *remembered;
            selection.select(&where, h::SelectionMethod::Intersect);
            regions->setSelectionSet(selection);
            if (selection.empty()) continue;

            status(RegionStatusText(strRegionField, valueText, i, n), "Creating a new raster from the selected grids");
            KV_LINE;
            const h::RasterLattice window = windowOf(lattice, envelopeOf(selection));
            if (window.columns == 0) continue;
            h::RasterAnalysisEnvironment env;
            env.setCellSizeFrom(*classGrid);
            TemporaryRaster mask, cut;
            // The mask on the class grid's own cells, by object id: every
            // selected feature counts, whatever its region value.
            mask.raster = h::featuresToRaster(regionClass, &selection, regionClass->oidFieldName(), window, env, {},
                                              classGrid->spatialReference());
            env.setExtent(h::EnvValue, window.extent());
            cut.raster = h::conditional(mask.raster, classGrid, env);
            mask.release();
            h::TablePtr cutTable = cut.raster->attributeTable();
            if (!cutTable || cutTable->rowCount() == 0) continue;

            h::RasterLayer cutLayer(cut.raster, strRasterLayer);
            status(RegionStatusText(strRegionField, valueText, i, n), "Running fragstats against selection");
            KV_LINE;
            const std::string base = RunFragStats(cutLayer, blnMnn, blnCwed, true, bufferDistance, mpi, boundary,
                                                  cwedBox.text(), verbose);
            // The region's folder goes when its files are read, or the run stops (verbose keeps it).
            struct ReleaseFolder {
                std::unique_ptr<FragStatsFolder>& folder;
                ~ReleaseFolder() { folder.reset(); }
            } releaseFolder{runFolder_};
            status(RegionStatusText(strRegionField, valueText, i, n), "Processing the fragstats output");
            KV_LINE;
            std::vector<GridStatsFile> files;
            for (bool land : {true, false}) {
                if ((land && !landscape) || (!land && !cls)) continue;
                const std::string path = base.empty() ? std::string() : base + (land ? ".land" : ".class");
                // A program that failed is not trusted with what it may have left.
                const bool failed = runInfo_ && runInfo_->exitCode != 0;
                if (path.empty() || failed || !hfs::FileExists(path)) {
                    std::string text = FragStatsMissingOutputMessage(verbose);
                    if (verbose && runInfo_ && runInfo_->exitCode != -1)
                        text += FragStatsExitReport(*runInfo_, runFolder_->path());
                    MsgBox(text, h::mb::Exclamation);
                    return;
                }
                std::optional<GridStatsFile> file = ReadGridStatsFile(path, land);
                if (!file) return;
                files.push_back(std::move(*file));
            }
            runFolder_.reset();   // read: the folder goes
            ++runBase;
            problem = AddRegionRows(rows, files, codes, runBase, value);
            if (!problem.empty()) {
                MsgBox(fmt::format("The fragstat output cannot be stored: {}.{}Nothing was written to the table.",
                                   problem, kCRLF),
                       h::mb::Exclamation, "Cannot Continue");
                return;
            }
            runs.insert(runBase);
            regions->setSelectionSet(*remembered);
        }
        regions->setSelectionSet(*remembered);

        // ---- the table, put in place after the last region ----------------------------------------------------
        KV_LINE;
        h::TablePtr statsTable;
        try {
            statsTable = WriteRegionStatsTable(tablePath, blnAppend, strRasterLayer, regionDef, rows);
        } catch (const h::Failure& f) {
            MsgBox(fmt::format("The table {} could not be written: {}{}It is as it was before the run.", tablePath,
                               f.description(), kCRLF),
                   h::mb::Exclamation, "File Access Error");
            return;
        }
        if (verbose) MsgBox("Statistics table successfully created", h::mb::Information, "Success");
        status("Statistics table successfully created", "");
        get<h::OptionButton>("optAppend").setValue(true);
        get<h::OptionButton>("optAppend").setEnabled(true);
        get<h::OptionButton>("optOverwrite").setEnabled(true);

        // ---- the response summary ----------------------------------------------------------------------------------
        h::TablePtr zonal;
        std::unique_ptr<FragStatsFolder> zonalFolder;
        if (responseLayer) {
            status("Running zonal statistics against output", "");
            KV_LINE;
            {
                h::RasterAnalysisEnvironment env;
                env.setCellSizeFrom(*responseLayer->raster());
                env.setExtentFrom(*responseLayer->raster());
                // Written in a private folder: no user dataset can be in its way.
                zonalFolder = std::make_unique<FragStatsFolder>();
                const std::string first = hfs::BuildPath(zonalFolder->path(), "zonal.dbf");
                zonal = h::zonalStatisticsAsTable(regionClass, strRegionField, responseLayer->raster(), false, first,
                                                  env);
                std::string name = "RgnStats-SummaryOf" + upper(strRegionLayer);
                if (name.size() > 32) name = ("RgnStats-SummOf" + upper(strRegionLayer)).substr(0, 32);
                h::ShapefileWorkspace zws = h::ShapefileWorkspace::open(zonalFolder->path());
                for (const std::string& other : zws.datasetNames())
                    if (upper(other) == upper(name)) zws.deleteDataset(other);
                zonal.reset();
                zonal = zws.renameDataset("zonal", name);
            }
        }

        // ---- the cross-tabulations of this call's rows --------------------------------------------------------
        status("Setting up cross tabs", "To show proportion of each class");
        KV_LINE;
        h::TablePtr hist = CrossTab(statsTable, "ClassHist", "Class", runs);
        if (!hist) return;
        Add_Table_TOC(hist);
        status("Setting up cross tabs", "To show total area in each class");
        int32_t areaRun = 0;
        h::TablePtr area = CrossTabArea(statsTable, strRegionField, "Class", "CA", "SStatsByRgns--ClassAreaCrosstab",
                                        runs, &areaRun);
        if (!area) return;
        Add_Table_TOC(area);
        status("Setting up cross tabs", "To show total edge for each class");
        h::TablePtr edge =
            CrossTabArea(statsTable, strRegionField, "Class", "TE", "SStatsByRgns--TotalEdgeCrosstab", runs);
        if (!edge) return;
        Add_Table_TOC(edge);

        // ---- the join, its export and the new layer ----------------------------------------------------------
        status("Joining data to the regions theme", "");
        KV_LINE;
        h::MemoryRelationshipClassPtr rel;
        const bool joinZonal = response && zonal;
        if (joinZonal) {
            status("Joining the response statistics to the regions theme");
            rel = h::MemoryRelationshipClass::open("TabletoLayer", regionClass, strRegionField, zonal, strRegionField);
        } else {
            const h::QueryFilter thisRun("Run = " + std::to_string(areaRun));
            rel = h::MemoryRelationshipClass::open("TabletoLayer", regionClass, strRegionField, area, strRegionField,
                                                   &thisRun);
        }
        regions->displayRelationshipClass(rel, h::JoinType::LeftOuter);

        status("Export the join to a new shapefile (join.shp)");
        KV_LINE;
        h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
        std::string joinName = "Join";
        for (int k = 1; anyDatasetFile(folder, joinName); ++k) joinName = "Join" + std::to_string(k);
        h::FeatureClassPtr joined = h::exportJoinedLayer(*regions, &*remembered, ws, joinName);
        status("Loading the new join shapefile onto the map");
        status("Removing the joins from the region layer");
        regions->removeJoin();
        zonal.reset();
        zonalFolder.reset();

        status("Cleaning out unneeded fields");
        KV_LINE;
        std::vector<std::string> drop =
            joinZonal ? std::vector<std::string>{"MIN", "MAX", "MINORITY", "RANGE", "STD", "VARIETY", "MAJORITY",
                                                 "MEDIAN", "AREA", "SUM", "COUNT", "Name", "RunDate", "Class-All",
                                                 "Run"}
                      : std::vector<std::string>{"Class-All", "Name", "RunDate", "Run", "oid_",
                                                 h::dbfFieldNameFor(strRegionField, {strRegionField})};
        for (const std::string& f : drop)
            if (joined->findField(f) >= 0) joined->deleteField(f);
        joined->flush();

        auto layer = std::make_shared<h::FeatureLayer>(
            joined, "Regions analysis of " + strRasterLayer + " (" + strClassField + ") by " + strRegionLayer);
        if (joinZonal && joined->findField("MEAN") >= 0)
            layer->setFieldAlias(joined->fields().field(joined->findField("MEAN")).name, "MeanResponse");
        if (response) layer->setVisible(false);
        map->addLayer(layer);
        if (withoutValue > 0)
            MsgBox(fmt::format("{} {} of {} without a value of {} (null) {} left out of the run and of the join.",
                               withoutValue, withoutValue == 1 ? "feature" : "features", strRegionLayer,
                               strRegionField, withoutValue == 1 ? "was" : "were"),
                   h::mb::Information, "Regions Left Out");
        status("Finished");
        finished = true;
    });
    return finished;
}

}  // namespace kv
