#pragma once
// Raster metrics engine behind the `fragstat` program: reads a class grid,
// labels its patches and computes the landscape- and class-level pattern
// metrics, then writes them as the blank-separated `.land` / `.class` files
// the grid library reads. Everything here runs in-process; the program is a
// thin wrapper around run().
#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::fragstat {

// A bad command line (wrong count, unparsable or out-of-range value).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Unusable input or output: missing or short grid, bad header, bad cell value,
// unwritable output.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// Command line

inline constexpr double kDefaultBackground = -9999.0;
inline constexpr double kDefaultProxDist = 1e9;

// Grid formats by data-type code.
enum class DataType : int { AsciiGrid = 2, FloatGrid = 7 };

struct Options {
    std::string in_image;
    std::string out_base;
    double cell_size = 0;
    double edge_depth = 0;              // defaults to the cell size
    DataType data_type = DataType::FloatGrid;
    std::optional<int64_t> rows, cols;  // absent: taken from the grid's header
    double background = kDefaultBackground;
    std::optional<int64_t> max_classes;
    std::optional<std::string> weight_file;
    std::optional<std::string> id_image;
    std::optional<std::string> desc_file;
    double bwt = 1.0;
    bool diags = true;
    double prox_dist = kDefaultProxDist;
    bool nndist = true;
    bool patch_stats = true;
    bool class_stats = true;
    unsigned threads = 0;  // `--threads N`; 0: every core
};

// The 18 positional fields after the program name; "$" (or a missing
// trailing field) takes the default. Surrounding double quotes are removed;
// an unquoted input/base path that the shell split at blanks is rejoined when
// the split is unambiguous. Throws UsageError.
Options parse_command_line(std::span<const std::string> args);

// Splits one command string into fields: blanks separate, double quotes group.
std::vector<std::string> split_command_string(std::string_view line);

std::string usage_text();

// ---------------------------------------------------------------------------
// Grid input

enum class ByteOrder { Little, Big };

// What a float grid's `.hdr` sidecar says (keys are case-insensitive).
struct GridHeader {
    std::optional<int64_t> rows, cols;
    std::optional<double> cell_size;
    std::optional<double> nodata;
    ByteOrder byte_order = ByteOrder::Little;
};
GridHeader parse_grid_header(std::string_view text);  // throws InputError

// Cell codes of a class grid, row-major, first row at the top.
inline constexpr int32_t kOutsideCell = INT32_MIN;         // no-data, NaN, background
inline constexpr int32_t kInteriorBackgroundCell = INT32_MIN + 1;  // background value >= 0
struct ClassGrid {
    int64_t rows = 0, cols = 0;
    std::vector<int32_t> cells;  // class value, border value (< 0) or a sentinel above
};

// Converts one raw grid value; `background` and `extra_nodata` are outside.
// Throws InputError for a non-integral or out-of-range value.
int32_t cell_code(double value, double background, std::optional<double> extra_nodata);

// Rows of a class grid, read on demand, so that a grid is never held whole.
class GridRows {
public:
    int64_t rows = 0, cols = 0;
    virtual ~GridRows() = default;
    // Fills out[0 .. count * cols) with the cell codes (as cell_code() gives
    // them) of rows [first, first + count). Safe to call from several
    // threads at once. Throws InputError naming the first bad cell.
    virtual void read(int64_t first, int64_t count, int32_t* out) const = 0;
};
// A view of a grid in memory; the grid must outlive it.
std::unique_ptr<GridRows> grid_rows(const ClassGrid& grid);
// The grid named by the options: a float grid (data type 7) is read from its
// file strip by strip; a text grid (2) is parsed whole. Throws InputError.
std::unique_ptr<GridRows> open_grid(const Options& options);

// Reads the grid named by the options (data type 7: `.flt` + `.hdr`; 2: text).
ClassGrid read_grid(const Options& options);  // throws InputError
// Text grid: optional "key value" header lines (ncols, nrows, ..., NODATA_value),
// then the values in rows, separated by blanks or commas.
ClassGrid parse_ascii_grid(std::string_view text, std::optional<int64_t> rows,
                           std::optional<int64_t> cols, double background);

// ---------------------------------------------------------------------------
// Connected components of an integer grid, by row strips
//
// The labeller behind the patches, for any integer grid (the grid library's
// region grouping uses it too). A component is a maximal set of cells of one
// value connected through side neighbours (4) or also corner neighbours (8);
// cells holding `none` belong to no component. Components are numbered from
// 1 in row-major order of each one's first cell: the numbering does not
// depend on the strip height or the number of threads. The grid is read
// strip by strip and never held whole; memory grows with the columns and the
// number of components.

struct ComponentOptions {
    bool diags = true;       // true: 8 neighbours; false: 4
    int32_t none = INT32_MIN;  // cells of this value form no component
    int64_t strip_rows = 0;  // 0: chosen from the width
    unsigned threads = 0;    // 0: every core
};
struct Components {
    std::vector<int64_t> cells;  // cells[id - 1]: the component's cell count
    std::vector<int32_t> value;  // value[id - 1]: its cells' value
    int64_t count() const { return static_cast<int64_t>(cells.size()); }
};
// Fills out[0 .. count * cols) with rows [first, first + count). It may be
// called from several threads at once, and may throw to stop the labelling.
using RowSource = std::function<void(int64_t first, int64_t count, int32_t* out)>;
// Takes the component ids (0: none) of rows [first, first + count), row-major.
using IdSink = std::function<void(int64_t first, int64_t count, const int64_t* ids)>;

// Labels a grid of rows x cols cells. With `ids`, the grid is read a second
// time and the id of every cell is handed to `ids`, strips in row order, on
// the calling thread.
Components label_components(int64_t rows, int64_t cols, const RowSource& read, const ComponentOptions& options,
                            const IdSink& ids = {});

// ---------------------------------------------------------------------------
// Contrast weights (CWED)

struct WeightTable {
    std::map<std::pair<int64_t, int64_t>, double> pairs;  // key (min, max)
    std::map<int64_t, double> background;  // per class: sides facing the outside or background
    std::optional<double> weight(int64_t a, int64_t b) const;
    std::optional<double> background_weight(int64_t cls) const;
};
// Lines "class_i class_k weight", blanks/commas, '#' comments. The background
// value may stand as a class. Bad lines are skipped with a warning in `warnings`.
WeightTable parse_weight_file(std::string_view text, double background,
                              std::vector<std::string>& warnings);

// ---------------------------------------------------------------------------
// Metrics

struct Params {
    double cell_size = 1;
    double edge_depth = 1;
    double bwt = 1;
    bool diags = true;
    double prox_dist = kDefaultProxDist;
    bool nndist = true;
    std::optional<int64_t> max_classes;
    std::optional<WeightTable> weights;
    bool patch_records = false;  // fill Results::patches
    unsigned threads = 0;        // worker threads; 0: every core
    int64_t strip_rows = 0;      // rows per strip; 0: chosen from the width
};
Params params_from(const Options& options, std::optional<WeightTable> weights);

// Every metric code, in one enumeration; a row holds a value or "." for each.
#define KV_FRAGSTAT_CODES(X)                                                                   \
    X(TA, "TA") X(CA, "CA") X(PLAND, "%LAND") X(LPI, "LPI") X(NP, "NP") X(PD, "PD")           \
    X(MPS, "MPS") X(PSSD, "PSSD") X(PSCV, "PSCV") X(TE, "TE") X(ED, "ED") X(CWED, "CWED")     \
    X(LSI, "LSI") X(MSI, "MSI") X(AWMSI, "AWMSI") X(DLFD, "DLFD") X(MPFD, "MPFD")             \
    X(AWMPFD, "AWMPFD") X(CPLAND, "C%LAND") X(TCA, "TCA") X(NCA, "NCA") X(CAD, "CAD")         \
    X(MCA1, "MCA1") X(CASD1, "CASD1") X(CACV1, "CACV1") X(MCA2, "MCA2") X(CASD2, "CASD2")     \
    X(CACV2, "CACV2") X(TCAI, "TCAI") X(MCAI, "MCAI") X(MNN, "MNN") X(NNSD, "NNSD")           \
    X(NNCV, "NNCV") X(MPI, "MPI") X(SHDI, "SHDI") X(SIDI, "SIDI") X(MSIDI, "MSIDI")           \
    X(PR, "PR") X(PRD, "PRD") X(RPR, "RPR") X(SHEI, "SHEI") X(SIEI, "SIEI") X(MSIEI, "MSIEI") \
    X(IJI, "IJI")

enum class Code : int {
#define KV_ENUM(id, name) id,
    KV_FRAGSTAT_CODES(KV_ENUM)
#undef KV_ENUM
        Count
};
inline constexpr int kCodeCount = static_cast<int>(Code::Count);
std::string_view code_name(Code code);
std::optional<Code> code_from_name(std::string_view name);

using Value = std::optional<double>;  // nullopt: undefined or switched off
struct MetricRow {
    std::array<Value, kCodeCount> values{};
    Value& operator[](Code c) { return values[static_cast<int>(c)]; }
    const Value& operator[](Code c) const { return values[static_cast<int>(c)]; }
    Value at(std::string_view name) const;  // throws std::out_of_range for an unknown code
};

struct ClassResult {
    int64_t type = 0;  // class value
    MetricRow row;
};
struct PatchRecord {
    int64_t id = 0, type = 0;
    int64_t cells = 0, perimeter_sides = 0, core_cells = 0, cores = 0;
    Value nearest;    // m
    Value proximity;
};
// A patch's proximity index sums one term per same-class patch within the
// radius, in a fixed order: the class's patches in patch order are cut into
// blocks of this many; the terms of each block are added in patch order,
// then the blocks' sums in block order. No value depends on the threads.
inline constexpr int32_t kProximityBlock = 64;

struct Results {
    MetricRow landscape;
    std::vector<ClassResult> classes;  // ascending class value
    std::vector<PatchRecord> patches;  // only with Params::patch_records
    std::vector<std::string> warnings;
    int64_t proximity_pairs = 0;  // same-class patch pairs within the radius (with nearest neighbours on)
};

// Computes everything. The grid is taken in strips of rows, on
// Params::threads threads; strips are merged exactly (components joined
// across seams, sums taken in the order of patch numbers), so the results do
// not depend on the number of threads or the strip height. Memory grows with
// the columns times the edge depth, the patches and (with nearest
// neighbours) the perimeter cells, not with the cells.
Results compute(const GridRows& grid, const Params& params);
Results compute(ClassGrid grid, const Params& params);

// Columns of the output files, in order (after LID, and TYPE for classes).
std::span<const Code> land_columns();
std::span<const Code> class_columns();

// The output file texts. `lid` is the first token of every data line.
std::string land_header();
std::string class_header();
std::string land_line(const Results& r, std::string_view lid);
std::vector<std::string> class_lines(const Results& r, std::string_view lid);
std::string format_value(const Value& v, bool integer);
std::string lid_token(std::string_view in_image);

// The whole program: parse, read, compute, write. Returns the exit code
// (0 success, also for `--help`, whose usage text goes to `out`; 2 bad
// command line; 1 any other failure, then the output files hold what they
// held before). Messages go to `err`.
int run(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int run(std::span<const std::string> args, std::ostream& err);  // `out` = `err`

// ---------------------------------------------------------------------------
// Putting the output files in place (test hook)

// The steps of replacing the output files, in the order they are taken.
enum class WriteStep { Lock, Open, Write, Sync, Close, Backup, Rename, Restore };
// Called before each step with the target file's path; a non-zero return
// makes that step fail with that errno. An empty hook (the default) injects
// nothing. For tests of failing and interrupted writes only.
using WriteFaultHook = std::function<int(WriteStep, const std::string& target)>;
void set_write_fault_hook(WriteFaultHook hook);

}  // namespace korvane::fragstat
