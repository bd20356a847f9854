#include "raster/Modules/modRunFragStats.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

namespace kv {

namespace h = korvane::host;
namespace hfs = korvane::host::fs;

namespace {
constexpr const char* kCRLF = "\r\n";
// The largest whole number from which on a 32-bit float no longer holds
// every whole number exactly.
constexpr int64_t kFloatExact = 16777216;
}  // namespace

namespace {
std::string& programInstead() {
    static std::string program;
    return program;
}
}  // namespace

std::string FragStatsMissingOutputMessage(bool TrackErrors) {
    std::string text =
        "The raster file was exported successfully, but FRAGSTATS failed to run or successfully complete, so no "
        "FRAGSTATS output file was created.  ";
    text += TrackErrors ? "This suggests that the file is too large, or too complex, for PC Fragstats.  Try "
                          "RECLASSIFYING to set a larger cell size, and/or fewer classes "
                        : "Select the Verbose Error Tracking box to help trace the problem";
    return text;
}

std::string FragStatsExitReport(const FragStatsRunInfo& info, const std::string& folder) {
    return fmt::format("{}{}fragstat ended with exit code {}{}{}{}The files of the run are in {}", kCRLF, kCRLF,
                       info.exitCode, info.errorText.empty() ? "" : ": ", info.errorText, kCRLF, folder);
}

std::optional<GridStatsFile> ReadGridStatsFile(const std::string& path, bool landscape) {
    GridStatsFile file;
    file.landscape = landscape;
    file.output = ReadFragStatsOutput(path);
    if (file.output.ok()) return file;
    MsgBox(fmt::format("The fragstat output {} is malformed: {}.{}Nothing was written to the table.", path,
                       file.output.problem, kCRLF),
           h::mb::Exclamation, "Malformed Output");
    return std::nullopt;
}

namespace {
std::string FragStatsErrorFile(const FragStatsFolder& folder) { return hfs::BuildPath(folder.path(), "fragstat.err"); }

void NoteFragStatsExit(const FragStatsFolder& folder, int32_t code, FragStatsRunInfo* info) {
    if (!info) return;
    const std::string errors = FragStatsErrorFile(folder);
    info->exitCode = code;
    info->errorText = hfs::FileExists(errors) ? hfs::ReadAll(errors) : std::string();
    while (!info->errorText.empty() && (info->errorText.back() == '\n' || info->errorText.back() == '\r'))
        info->errorText.pop_back();
}
}  // namespace

void WaitForFragStats(h::StartedProgram& program, const FragStatsFolder& folder, FragStatsRunInfo* info) {
    NoteFragStatsExit(folder, program.wait(), info);
}

std::string FragStatsProgram() {
    return programInstead().empty() ? hfs::BuildPath(App::Path(), "fragstat") : programInstead();
}

void testing::UseFragStatsProgram(std::string program) { programInstead() = std::move(program); }

double FragStatsMegabytes(int64_t rows, int64_t cols) {
    // 64-bit: a 20,000 x 20,000 grid is 1.6 thousand million bytes.
    const int64_t bytes = rows * cols * 4;
    return static_cast<double>(bytes) / 1000.0 / 1000.0;
}

std::string FragStatsSpaceQuestion(const FragStatsSource& source, int64_t classes, double cellSize,
                                   const std::string& folder) {
    const double mb = FragStatsMegabytes(source.rows, source.cols);
    std::string text = fmt::format("Grid has {} rows and {} columns, {} classes, and a cell size of {} .", source.rows,
                                   source.cols, classes, NumberText(cellSize));
    if (mb >= 1000)
        text += "This operation will require " + NumberText(mb / 1000) +
                "GB of free space on the drive where your temp disk is located. ";
    else
        text += "This operation will require " + NumberText(mb) +
                " MB of free space on the drive where your temp disk is located. ";
    text += "  If the drive runs out of space, no FRAGSTATS output will be reported.";
    text += "  The binary image file, and raw FRAGSTATS output are located in " + folder + kCRLF + kCRLF + "CONTINUE?";
    return text;
}

std::string FragStatsSourceProblem(const FragStatsSource& source, const std::vector<int64_t>& classValues) {
    if (!(source.cellX > 0) || !(source.cellY > 0) || !std::isfinite(source.cellX) || !std::isfinite(source.cellY))
        return fmt::format("The raster {} has no usable cell size.  Cannot continue.", source.name);
    const double larger = std::max(source.cellX, source.cellY);
    if (std::abs(source.cellX - source.cellY) / larger > 1e-6)
        return fmt::format(
            "The cells of {} are {} by {} map units.  fragstat measures square cells only, so its areas and "
            "edges would be wrong.{}Resample the raster to square cells.  Cannot continue.",
            source.name, NumberText(source.cellX), NumberText(source.cellY), kCRLF);
    std::vector<int64_t> beyond;
    bool noData = false;
    for (int64_t v : classValues) {
        if (v == -9999) noData = true;
        if (v > kFloatExact || v < -kFloatExact) beyond.push_back(v);
    }
    if (noData)
        return fmt::format(
            "The raster {} has cells of class -9999, the value that marks cells outside the landscape in the "
            "grid handed to fragstat.{}Reclassify them to another value.  Cannot continue.",
            source.name, kCRLF);
    if (!beyond.empty())
        return fmt::format(
            "The raster {} has class values beyond {} (such as {}), which the float grid handed to fragstat "
            "cannot hold exactly.{}Reclassify them to smaller values.  Cannot continue.",
            source.name, kFloatExact, beyond.front(), kCRLF);
    return {};
}

std::string RunFragStats(FragStatsFolder& folder, const FragStatsSource& source, bool blnMnn, bool blnCwed,
                         bool blnDiag, const std::string& bufferDistance, const std::string& MPIValue,
                         const std::string& BoundaryInfluence, const std::string& CWEDFileName, bool TrackErrors,
                         const FragStatsOptions& options, FragStatsRunInfo* info) {
    std::string result;
    Procedure proc(options.procedureName, options.modulePath, TopLevel);
    proc.run([&] {
        proc.line = __LINE__;
        FragStatsCommand command;
        command.program = FragStatsProgram();

        // The weight file: a missing one is warned about and left out.
        if (!CWEDFileName.empty() && blnCwed) {
            if (hfs::FileExists(CWEDFileName)) {
                command.weightFile = CWEDFileName;
            } else {
                MsgBox("Cannot find weight file '" + CWEDFileName + "'.  Ignoring Metric.", h::mb::Exclamation,
                       "Missing Information");
            }
        }
        proc.line = __LINE__;
        command.base = folder.base();
        for (const std::string& path : {command.base, command.weightFile, command.program})
            if (path.find('"') != std::string::npos)
                h::fail(h::err::InvalidCall, "Korvane", "A path with a double quote cannot be handed to fragstat: " + path);

        proc.line = __LINE__;
        command.rows = source.rows;
        command.cols = source.cols;
        command.cellSize = source.cellX < source.cellY ? source.cellX : source.cellY;
        std::vector<int64_t> classes = source.classValues ? source.classValues() : std::vector<int64_t>{};
        std::string problem = FragStatsSourceProblem(source, classes);
        if (!problem.empty()) {
            MsgBox(problem, h::mb::Exclamation, "Cannot Continue");
            return;
        }

        if (options.confirmSpace && TrackErrors) {
            proc.line = __LINE__;
            std::set<int64_t> distinct(classes.begin(), classes.end());
            std::string question = FragStatsSpaceQuestion(source, static_cast<int64_t>(distinct.size()),
                                                          command.cellSize, folder.path());
            if (MsgBox(question, h::mb::YesNo, "Space Requirements") == h::mb::No) {
                MsgBox("User chose to quit", h::mb::OKOnly);
                return;
            }
        }

        proc.line = __LINE__;
        command.bufferDistance = bufferDistance;
        command.MPIValue = MPIValue;
        command.BoundaryInfluence = BoundaryInfluence;
        command.diag = blnDiag;
        command.mnn = blnMnn;

        // The export.
        proc.line = __LINE__;
        const std::string flt = command.base + ".flt";
        std::string exportError;
        try {
            source.exportGrid(flt);
        } catch (const h::Failure& f) {
            exportError = f.description();
        }
        if (!exportError.empty() || !hfs::FileExists(flt)) {
            if (TrackErrors)
                MsgBox("Raster was not exported to " + flt + ".  Check available disk space" +
                           (exportError.empty() ? std::string() : kCRLF + exportError),
                       h::mb::OKOnly, "Conversion Failed");
            return;
        }
        if (TrackErrors) MsgBox("Raster successfully exported to " + flt, h::mb::OKOnly);

        proc.line = __LINE__;
        if (info) info->commandLine = FragStatsCommandLine(command);
        if (TrackErrors) MsgBox(FragStatsCommandLine(command, true), h::mb::OKOnly, "FRAGSTATS command line string");

        proc.line = __LINE__;
        h::Shell shell;
        if (options.started) {
            *options.started = shell.StartCapturing(FragStatsCommandLine(command), FragStatsErrorFile(folder));
        } else {
            const int32_t code = shell.RunCapturing(FragStatsCommandLine(command), FragStatsErrorFile(folder));
            NoteFragStatsExit(folder, code, info);
        }
        result = command.base;
    });
    return result;
}

}  // namespace kv
