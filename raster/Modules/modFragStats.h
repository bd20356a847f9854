#pragma once
// The fragstat program as the raster library uses it: the private folder of
// one run, the command line, the output reader and the check of the analysis
// parameters. RunFragStats (modRunFragStats.h) puts them together; the grid
// spatial statistics and the region statistics both read what it leaves with
// ReadFragStatsOutput.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::host::fs {
class FolderRemover;
}

namespace kv {

// ---- the run's folder ---------------------------------------------------------

// A folder made for one run (mode 0700, under $TMPDIR or /tmp), so that no
// other user's leftover can stop a run and no planted link can redirect the
// export. Removed with everything in it when the object goes, unless keep()
// was called (verbose tracking keeps it for inspection); given a remover,
// the removal is handed to it.
class FragStatsFolder {
public:
    // Fails (a host Failure) when the folder cannot be made.
    explicit FragStatsFolder(korvane::host::fs::FolderRemover* removal = nullptr);
    ~FragStatsFolder();
    FragStatsFolder(const FragStatsFolder&) = delete;
    FragStatsFolder& operator=(const FragStatsFolder&) = delete;

    const std::string& path() const { return path_; }
    // The base path of the run's files: the folder and "/frag_av".
    std::string base() const;
    void keep() { keep_ = true; }
    bool kept() const { return keep_; }

private:
    std::string path_;
    bool keep_ = false;
    korvane::host::fs::FolderRemover* removal_ = nullptr;
};

// ---- the command line -----------------------------------------------------------

// Everything the command line says, as the run has worked it out.
struct FragStatsCommand {
    std::string program;            // the fragstat program's full path
    std::string base;               // base path of the run's files (no extension)
    double cellSize = 0;
    int64_t rows = 0, cols = 0;
    std::string bufferDistance;     // as typed; empty: the cell size
    std::string MPIValue;           // as typed; empty: "1000000000"
    std::string BoundaryInfluence;  // as typed; empty: "1"
    std::string weightFile;         // empty: "$"
    bool diag = true;
    bool mnn = false;
};

// The 19 fields in order, each as it stands on the command line: the
// program, the grid, the base path and the weight file in double quotes, the
// others as they are.
std::vector<std::string> FragStatsFields(const FragStatsCommand& c);
// The fields joined by single blanks (display: a CR LF after every field but
// the last, as the verbose message shows it).
std::string FragStatsCommandLine(const FragStatsCommand& c, bool display = false);

// The shortest decimal text of a number (30, 0.25, 1.6).
std::string NumberText(double x);

// ---- the analysis parameters -------------------------------------------------------

// Checks the three number texts that the parameter dialog hands on as typed
// (an empty text takes its default): the MPI threshold and the buffer
// distance must be numbers >= 0, the boundary influence a number from 0 to 1.
// Empty when they are fine, else a message naming the wrong one.
std::string FragStatsParameterProblem(const std::string& bufferDistance, const std::string& MPIValue,
                                      const std::string& BoundaryInfluence);

// ---- the output files -----------------------------------------------------------------

// One header of an output file and the data lines below it. Every data line
// holds exactly one token per column; "." stands for a value that fragstat
// did not compute.
struct FragStatsBlock {
    std::vector<std::string> columns;           // header tokens, "LID" first
    std::vector<std::vector<std::string>> rows;
    // The column's number, or -1 (names compare exactly).
    int32_t column(std::string_view name) const;
};

struct FragStatsOutput {
    std::vector<FragStatsBlock> blocks;  // normally one
    // Empty when the file was read whole and is well formed; else why not
    // (the file could not be read, a data line before any header or with
    // another number of tokens than its header, a repeated column name).
    std::string problem;
    bool ok() const { return problem.empty(); }
};

// Splits a line at runs of blanks, after trimming it; an empty line has no
// tokens.
std::vector<std::string> SplitFragStatsLine(std::string_view line);
// A header line: its first token, followed by a blank, is "LID".
bool IsFragStatsHeader(std::string_view trimmedLine);
// Reads a .land or .class file; blank lines are passed over.
FragStatsOutput ReadFragStatsOutput(const std::string& path);
FragStatsOutput ParseFragStatsOutput(std::string_view text);

// A value token: nothing for ".", the number otherwise; false when the token
// is neither.
bool FragStatsValue(const std::string& token, std::optional<double>& out);

}  // namespace kv
