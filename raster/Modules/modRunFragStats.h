#pragma once
// RunFragStats: the one operation that exports a raster and runs fragstat on
// it. The grid spatial statistics run and the region statistics run both call
// it and read the .land and .class files it leaves under the base path.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/System.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modGridStatsTable.h"

namespace kv {

// What RunFragStats needs of the raster it runs on.
struct FragStatsSource {
    std::string name;               // the layer's name, for messages
    int64_t rows = 0, cols = 0;
    double cellX = 0, cellY = 0;    // mean cell size
    // The distinct class values of the raster (its value table's values).
    std::function<std::vector<int64_t>()> classValues;
    // Writes band 0 as a float grid to the path (".flt", with its ".hdr").
    std::function<void(const std::string& fltPath)> exportGrid;
};

struct FragStatsOptions {
    // The landscape-metrics run asks before it uses the space (verbose only).
    bool confirmSpace = false;
    // The caller's procedure and module, under which failures are reported.
    const char* procedureName = "RunFragStats";
    const char* modulePath = "Modules/modRunFragStats";
    // When set, fragstat is started into it and not waited for: the caller
    // waits with WaitForFragStats before it reads the run's files.
    korvane::host::StartedProgram* started = nullptr;
};

// What a run left besides its base path, for the caller's messages.
struct FragStatsRunInfo {
    int32_t exitCode = -1;       // -1: fragstat was not started
    std::string errorText;       // what fragstat wrote on its error output
    std::string commandLine;
};

// The fragstat program beside the library.
std::string FragStatsProgram();

namespace testing {
// Makes the runs start `program` instead of the fragstat beside the library
// (a stand-in that fails or writes broken files); empty goes back to it.
void UseFragStatsProgram(std::string program);
}  // namespace testing

// Refusals that RunFragStats makes before it exports: cells that are not
// square, class values that a 32-bit float cannot hold exactly, the class
// value -9999 (the export's NoData). Empty when the raster can be analysed.
std::string FragStatsSourceProblem(const FragStatsSource& source, const std::vector<int64_t>& classValues);

// Exports the raster into the run's folder, runs fragstat on it and waits
// for it to exit. Returns the base path (the folder and "/frag_av") when
// fragstat was started, whatever it wrote; empty when the run stopped
// before (a refusal, the user declined, the export failed, an unexpected
// failure, which is reported at the top level under the caller's name).
std::string RunFragStats(FragStatsFolder& folder, const FragStatsSource& source, bool blnMnn, bool blnCwed,
                         bool blnDiag, const std::string& bufferDistance, const std::string& MPIValue,
                         const std::string& BoundaryInfluence, const std::string& CWEDFileName, bool TrackErrors,
                         const FragStatsOptions& options = {}, FragStatsRunInfo* info = nullptr);

// Waits for a run started with FragStatsOptions::started and notes its exit
// in info.
void WaitForFragStats(korvane::host::StartedProgram& program, const FragStatsFolder& folder, FragStatsRunInfo* info);

// The message for a run whose output file is missing or not to be trusted;
// with TrackErrors it names the likely cause, else it points to the box.
std::string FragStatsMissingOutputMessage(bool TrackErrors);
// What a started fragstat left for a look: two line breaks, its exit code,
// what it wrote on its error output, and the folder of the run's files.
std::string FragStatsExitReport(const FragStatsRunInfo& info, const std::string& folder);

// Reads a run's output file of that level for the table. Nothing, after the
// message "The fragstat output <path> is malformed: ...", when the file
// cannot be used.
std::optional<GridStatsFile> ReadGridStatsFile(const std::string& path, bool landscape);

// The space question's estimate: rows x cols x 4 bytes, in megabytes.
double FragStatsMegabytes(int64_t rows, int64_t cols);
// The text of the space question.
std::string FragStatsSpaceQuestion(const FragStatsSource& source, int64_t classes, double cellSize,
                                   const std::string& folder);

}  // namespace kv
