// The grid spatial statistics run: checks the layer, its class field, the
// parameters and the output table; runs fragstat on the layer; reads and
// checks every requested output file; and only then writes the table (whole,
// under a temporary name put in place at the end). A run that stops leaves
// the table as it was.
#include <fmt/format.h>

#include <cctype>
#include <map>
#include <memory>
#include <set>

#include "host/OutputLock.h"
#include "host/Document.h"
#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/Raster.h"
#include "host/data/RasterLayer.h"
#include "raster/Forms/frmGridSpatialStats.h"
#include "raster/Modules/UtilModule.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modGridOutput.h"
#include "raster/Modules/modGridStatsTable.h"
#include "raster/Modules/modMisc.h"
#include "raster/Modules/modRunFragStats.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

KV_MODULE("Forms/frmGridSpatialStats");

namespace kv {

namespace h = korvane::host;
namespace hfs = korvane::host::fs;

namespace {

constexpr const char* kCRLF = "\r\n";

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A warning for a raster whose map units are not metres: fragstat states
// areas in hectares and lengths in metres from the cell size as given.
bool unitsAccepted(const h::RasterDataset& raster, const std::string& layerName) {
    const int32_t units = raster.units();
    if (units == h::UnitUnknown || units == h::UnitMeters) return true;
    std::string what =
        units == h::UnitDecimalDegrees
            ? "geographic coordinates (degrees): fragstat would take the cell size in degrees as metres, so "
              "areas, edges and distances would be meaningless and distort with latitude. Projecting the raster "
              "gives meaningful values."
            : fmt::format("{}: fragstat takes the cell size as metres, so areas (hectares), edges and distances "
                          "would be off by the unit's size.",
                          h::unitName(units));
    std::string text = "The raster " + layerName + " is in " + what + kCRLF + kCRLF + "Continue anyway?";
    return MsgBox(text, h::mb::YesNo | h::mb::Exclamation | h::mb::DefaultButton2, "Map Units") == h::mb::Yes;
}

}  // namespace

std::optional<std::vector<h::Value>> frmGridSpatialStats::GetClassValues(const h::RasterLayer& RasterLayerIn,
                                                                         const std::string& ClassName) {
    std::optional<std::vector<h::Value>> result;
    KV_PROCEDURE("GetClassValues", TopLevel).run([&] {
        KV_LINE;
        h::TablePtr table = RasterLayerIn.raster() ? RasterLayerIn.raster()->attributeTable() : nullptr;
        if (!table) h::failObjectNotSet(KV_PROJECT_NAME);
        KV_LINE;
        int32_t field = table->findField(ClassName);
        if (field < 0) {
            MsgBox("Cannot find " + ClassName + " field in the Grid.", h::mb::Information,
                   "Missing Field in Raster GetClasses");
            return;
        }
        KV_LINE;
        result = DistinctFieldValues(*table, field);
    });
    return result;
}

// What the stages of one run share.
struct frmGridSpatialStats::GridRun {
    GridRun(Procedure& proc, frmGridSpatialStats& dialog, const std::string& rasterLayerIn,
            const std::string& classField, bool eightNeighbours, const std::string& outputTable, bool append,
            const std::vector<std::string>& chosenStats, bool trackErrors, const std::string& buffer,
            const std::string& mpi, const std::string& cwedFileName, const std::string& boundaryInfluence,
            const std::string& classLandscape)
        : kvProc_(proc), form(dialog), strRasterLayerIn(rasterLayerIn), strClassField(classField), as8N(eightNeighbours),
          outputTableName(outputTable), blnAppend(append), ChosenStats(chosenStats), TrackErrors(trackErrors),
          bufferDistance(buffer), MPIValue(mpi), CWEDFileName(cwedFileName), BoundaryInfluence(boundaryInfluence),
          ClassLandscape(classLandscape) {}
    Procedure& kvProc_;   // the run's handler: KV_LINE marks its line
    frmGridSpatialStats& form;
    // The request.
    const std::string& strRasterLayerIn;
    const std::string& strClassField;
    bool as8N;
    const std::string& outputTableName;
    bool blnAppend;
    const std::vector<std::string>& ChosenStats;
    bool TrackErrors;
    const std::string& bufferDistance;
    const std::string& MPIValue;
    const std::string& CWEDFileName;
    const std::string& BoundaryInfluence;
    const std::string& ClassLandscape;
    // Found and checked.
    std::shared_ptr<h::RasterLayer> layer;
    h::RasterDataset* raster = nullptr;
    h::TablePtr table;
    int32_t classAt = -1;
    int32_t valueAt = -1;
    std::vector<bool> levels;   // true: landscape file
    std::string tablePath;
    // Held from the first read of the table to its commit: a second run on
    // the table waits and then reads it anew.
    std::unique_ptr<h::OutputLock> tableLock;
    GridStatsTableState state;
    std::optional<std::map<int32_t, h::Value>> classOfValue;
    std::vector<int64_t> values;
    // Made.
    FragStatsSource source;
    std::unique_ptr<StageProgress> progress;
    FragStatsOptions options;
    std::unique_ptr<FragStatsFolder> folder;
    FragStatsRunInfo info;
    std::string base;
    std::vector<GridStatsFile> files;
    GridStatsRows rows;

    bool FindGridRunLayer();
    bool CheckGridRunRequest();
    bool ReadGridClassValues();
    bool RunGridFragStats();
    bool ReadGridRunFiles();
    bool WriteGridRunTable();
};

bool frmGridSpatialStats::RunGridSpatialStats(const std::string& strRasterLayerIn, const std::string& strClassField,
                                              bool as8N, const std::string& outputTableName, bool blnAppend,
                                              const std::vector<std::string>& ChosenStats, bool TrackErrors,
                                              const std::string& bufferDistance, const std::string& MPIValue,
                                              const std::string& CWEDFileName, const std::string& BoundaryInfluence,
                                              const std::string& ClassLandscape, bool ConvertUnits) {
    bool result = false;
    KV_PROCEDURE("RunGridSpatialStats", TopLevel).run([&] {
        GridRun run(kvProc_, *this, strRasterLayerIn, strClassField, as8N, outputTableName, blnAppend, ChosenStats,
                    TrackErrors, bufferDistance, MPIValue, CWEDFileName, BoundaryInfluence, ClassLandscape);
        if (!run.FindGridRunLayer() || !run.CheckGridRunRequest() || !run.ReadGridClassValues() ||
            !run.RunGridFragStats() || !run.ReadGridRunFiles() || !run.WriteGridRunTable())
            return;
        (void)ConvertUnits;   // fragstat's values are stored as it writes them
        result = true;
    });
    return result;
}

bool frmGridSpatialStats::GridRun::FindGridRunLayer() {
    // ---- the layer, its table and class field ------------------------------------------
    KV_LINE;
    h::LayerPtr found = FindLayerByName(form.Map(), strRasterLayerIn);
    layer = std::dynamic_pointer_cast<h::RasterLayer>(found);
    if (!layer || !layer->raster()) {
        MsgBox("Could not find layer " + strRasterLayerIn, h::mb::OKOnly, "Missing Layer");
        return false;
    }
    raster = layer->raster().get();
    KV_LINE;
    table = GetRasterTable(layer->raster());
    if (!table) {
        MsgBox("Unable to create a table from the raster layer.  Cannot continue to Run Grid Spatial Statistics",
               h::mb::Exclamation, "Cannot find table");
        return false;
    }
    KV_LINE;
    classAt = table->findField(strClassField);
    if (classAt < 0) {
        MsgBox("Cannot find field '" + strClassField + "' in the grid.  Cannot continue.", h::mb::Critical,
               "Missing Field");
        return false;
    }
    for (const char* name : {"value", "Value", "VALUE"})
        if (valueAt < 0) valueAt = table->findField(name);
    if (valueAt < 0) {
        MsgBox("Cannot find field 'value' in the grid.  Cannot continue.", h::mb::Critical, "Missing Field");
        return false;
    }
    if (!HasDataCells(*table, valueAt)) {
        MsgBox(NoDataCellsMessage(strRasterLayerIn, "there is no landscape to measure"), h::mb::Exclamation,
               "No Data");
        return false;
    }
    return true;
}

bool frmGridSpatialStats::GridRun::CheckGridRunRequest() {
    // ---- the request --------------------------------------------------------------------------
    KV_LINE;
    if (ClassLandscape.find('L') != std::string::npos) levels.push_back(true);
    if (ClassLandscape.find('C') != std::string::npos) levels.push_back(false);
    if (levels.empty()) {
        MsgBox("You need to have at least Landscape or Class chosen to be analyzed by", h::mb::OKOnly,
               "Missing Choice");
        return false;
    }
    std::string problem = FragStatsParameterProblem(bufferDistance, MPIValue, BoundaryInfluence);
    if (!problem.empty()) {
        MsgBox(problem, h::mb::Exclamation, "Invalid Parameter");
        return false;
    }
    KV_LINE;
    tablePath = GridStatsTablePath(outputTableName);
    // Held from this first read of the table to its commit: a second run
    // on the table waits and then reads it anew.
    tableLock = std::make_unique<h::OutputLock>(tablePath);
    state = CheckGridStatsTable(tablePath, blnAppend, static_cast<int32_t>(levels.size()));
    if (!state.refusal.empty()) {
        MsgBox(state.refusal, h::mb::Exclamation, state.refusalTitle);
        return false;
    }
    return true;
}

bool frmGridSpatialStats::GridRun::ReadGridClassValues() {
    // ---- the value-to-class map, read through the table's rows ---------------------------------
    KV_LINE;
    {
        if (lower(strClassField) != "value") classOfValue.emplace();
        h::Cursor rows = table->search(nullptr, true);
        while (h::RowPtr row = rows.next()) {
            const h::Value& v = row->value(valueAt);
            if (h::isNull(v)) continue;
            double d = h::toDouble(v);
            if (d != std::floor(d) || d < INT32_MIN || d > INT32_MAX)
                h::fail(h::err::Overflow, KV_PROJECT_NAME,
                        "The raster table holds the value " + h::toText(v) + ", which is no 32-bit whole number.");
            const int32_t value = static_cast<int32_t>(d);
            values.push_back(value);
            if (classOfValue) classOfValue->emplace(value, row->value(classAt));
        }
    }
    KV_LINE;
    if (!unitsAccepted(*raster, strRasterLayerIn)) return false;
    return true;
}

bool frmGridSpatialStats::GridRun::RunGridFragStats() {
    // ---- fragstat ---------------------------------------------------------------------------------
    KV_LINE;
    auto has = [&](const char* code) { return form.SearchArray(ChosenStats, code) >= 0; };
    source.name = strRasterLayerIn;
    source.rows = raster->height();
    source.cols = raster->width();
    source.cellX = raster->cellSizeX();
    source.cellY = raster->cellSizeY();
    source.classValues = [&] { return values; };
    progress = std::make_unique<StageProgress>();
    source.exportGrid = [&](const std::string& flt) {
        progress->stage("Exporting " + strRasterLayerIn);
        h::exportFloatGrid(*raster, flt.substr(0, flt.size() - 4), ReportRowsDone);
        progress->stage("Running fragstat on " + strRasterLayerIn);
    };
    options.confirmSpace = true;
    options.procedureName = "RunGridSpatialStats";
    options.modulePath = kvModulePath_;
    folder = std::make_unique<FragStatsFolder>();
    KV_LINE;
    base = RunFragStats(*folder, source, has("MNN") || has("MPI"), has("CWED"), as8N, bufferDistance, MPIValue,
                        BoundaryInfluence, CWEDFileName, TrackErrors, options, &info);
    // Verbose tracking keeps the grid and fragstat's files for a look;
    // a run that stopped before fragstat leaves nothing worth keeping.
    if (base.empty()) return false;
    if (TrackErrors) folder->keep();
    return true;
}

bool frmGridSpatialStats::GridRun::ReadGridRunFiles() {
    // ---- every output file, read and checked before the table is touched -------------------
    KV_LINE;
    for (bool landscape : levels) {
        const std::string path = base + (landscape ? ".land" : ".class");
        // A program that failed is not trusted with what it may have left.
        if (info.exitCode != 0 || !hfs::FileExists(path)) {
            std::string text = FragStatsMissingOutputMessage(TrackErrors);
            if (TrackErrors) text += FragStatsExitReport(info, folder->path());
            MsgBox(text, h::mb::Exclamation);
            return false;
        }
        std::optional<GridStatsFile> file = ReadGridStatsFile(path, landscape);
        if (!file) return false;
        files.push_back(std::move(*file));
    }
    KV_LINE;
    rows = BuildGridStatsRows(files, ChosenStats, form.renames_, classOfValue);
    if (!rows.problem.empty()) {
        MsgBox(fmt::format("The fragstat output cannot be stored: {}.{}Nothing was written to the table.",
                           rows.problem, kCRLF),
               h::mb::Exclamation, "Cannot Continue");
        return false;
    }
    return true;
}

bool frmGridSpatialStats::GridRun::WriteGridRunTable() {
    // ---- the table -----------------------------------------------------------------------------
    KV_LINE;
    try {
        WriteGridStatsTable(tablePath, blnAppend, strRasterLayerIn, rows);
    } catch (const h::Failure& f) {
        MsgBox(fmt::format("The table {} could not be written: {}{}It is as it was before the run.", tablePath,
                           f.description(), kCRLF),
               h::mb::Exclamation, "File Access Error");
        return false;
    }
    return true;
}

}  // namespace kv
