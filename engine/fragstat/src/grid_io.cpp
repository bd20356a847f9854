// Reading class grids: the binary float grid with its `.hdr` sidecar, and a
// plain text grid.
#include <fmt/format.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fragstat/fragstat.h"
#include "text.h"

namespace korvane::fragstat {
namespace {

// Rows and columns are 32-bit in the cell lists; cell counts are 64-bit.
int64_t checked_cells(int64_t rows, int64_t cols) {
    if (rows <= 0 || cols <= 0) throw InputError("the grid has no cells");
    if (rows > INT32_MAX || cols > INT32_MAX)
        throw InputError(fmt::format("a grid of {} x {} cells is larger than supported ({} rows or columns)", rows,
                                     cols, INT32_MAX));
    return rows * cols;
}

int64_t pick_dimension(std::optional<int64_t> given, std::optional<int64_t> header, const char* what) {
    if (given && header && *given != *header)
        throw InputError(fmt::format("the command line gives {} {} but the grid header says {}", *given, what,
                                     *header));
    if (given) return *given;
    if (header) return *header;
    throw InputError(fmt::format("the number of {} is given neither on the command line nor in a header", what));
}

[[noreturn]] void bad_cell(int64_t index, int64_t cols, const std::exception& e) {
    throw InputError(fmt::format("cell at row {}, column {}: {}", index / cols + 1, index % cols + 1, e.what()));
}

bool same_float(double a, double b) { return static_cast<float>(a) == static_cast<float>(b); }

// A float grid read row by row from its file (pread, so that strips can be
// read by several threads at once).
class FloatGridRows final : public GridRows {
public:
    FloatGridRows(const Options& o, const GridHeader& header, int64_t r, int64_t c)
        : path_(o.in_image), background_(o.background), nodata_(header.nodata),
          swap_((header.byte_order == ByteOrder::Big) != (std::endian::native == std::endian::big)) {
        rows = r;
        cols = c;
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw InputError(fmt::format("cannot open the grid '{}'", path_));
    }
    ~FloatGridRows() override { ::close(fd_); }

    void read(int64_t first, int64_t count, int32_t* out) const override {
        const int64_t n = count * cols;
        thread_local std::vector<uint32_t> buf;  // kept from read to read
        buf.resize(static_cast<size_t>(std::min<int64_t>(n, 1 << 16)));
        const int64_t base = first * cols;
        uint32_t last_bits = 0;
        int32_t last_code = 0;
        bool have_last = false;
        for (int64_t done = 0; done < n;) {
            const int64_t k = std::min<int64_t>(static_cast<int64_t>(buf.size()), n - done);
            auto* dst = reinterpret_cast<char*>(buf.data());
            int64_t got = 0;
            while (got < k * 4) {
                const ssize_t m = ::pread(fd_, dst + got, static_cast<size_t>(k * 4 - got),
                                          static_cast<off_t>((base + done) * 4 + got));
                if (m < 0 && errno == EINTR) continue;
                if (m < 0) throw InputError(fmt::format("cannot read the grid '{}': {}", path_, std::strerror(errno)));
                if (m == 0) throw InputError(fmt::format("the grid '{}' ends early", path_));
                got += m;
            }
            for (int64_t i = 0; i < k; ++i) {
                const uint32_t bits = swap_ ? __builtin_bswap32(buf[i]) : buf[i];
                if (!have_last || bits != last_bits) {
                    float v;
                    std::memcpy(&v, &bits, 4);
                    try {
                        last_code = cell_code(v, background_, nodata_);
                    } catch (const InputError& e) {
                        bad_cell(base + done + i, cols, e);
                    }
                    last_bits = bits;
                    have_last = true;
                }
                out[done + i] = last_code;
            }
            done += k;
        }
    }

private:
    std::string path_;
    double background_;
    std::optional<double> nodata_;
    bool swap_;
    int fd_ = -1;
};

class MemoryGridRows final : public GridRows {
public:
    explicit MemoryGridRows(const ClassGrid& g) : g_(g) {
        rows = g.rows;
        cols = g.cols;
        if (static_cast<int64_t>(g.cells.size()) != rows * cols)
            throw InputError("the grid's cell count does not match its size");
    }
    void read(int64_t first, int64_t count, int32_t* out) const override {
        std::copy_n(g_.cells.begin() + first * cols, count * cols, out);
    }

private:
    const ClassGrid& g_;
};

// Same, owning its grid.
class OwnedGridRows final : public GridRows {
public:
    explicit OwnedGridRows(ClassGrid g) : g_(std::move(g)), view_(g_) {
        rows = g_.rows;
        cols = g_.cols;
    }
    void read(int64_t first, int64_t count, int32_t* out) const override { view_.read(first, count, out); }

private:
    ClassGrid g_;
    MemoryGridRows view_;
};

std::unique_ptr<GridRows> open_float_grid(const Options& o) {
    namespace fs = std::filesystem;
    fs::path grid_path(o.in_image);
    GridHeader header;
    for (const char* ext : {".hdr", ".HDR"}) {
        fs::path hdr = grid_path;
        hdr.replace_extension(ext);
        std::error_code ec;
        if (!fs::exists(hdr, ec)) continue;
        auto text = text::read_file(hdr);
        if (!text) throw InputError(fmt::format("cannot read the grid header '{}'", hdr.string()));
        try {
            header = parse_grid_header(*text);
        } catch (const InputError& e) {
            throw InputError(fmt::format("grid header '{}': {}", hdr.string(), e.what()));
        }
        break;
    }
    const int64_t rows = pick_dimension(o.rows, header.rows, "rows");
    const int64_t cols = pick_dimension(o.cols, header.cols, "columns");
    const int64_t n = checked_cells(rows, cols);

    std::error_code ec;
    if (!fs::is_regular_file(grid_path, ec)) throw InputError(fmt::format("cannot find the grid '{}'", o.in_image));
    const auto size = fs::file_size(grid_path, ec);
    if (ec) throw InputError(fmt::format("cannot read the grid '{}'", o.in_image));
    if (size != static_cast<uintmax_t>(n) * 4)
        throw InputError(fmt::format("the grid '{}' holds {} bytes, but {} x {} float cells need {}", o.in_image,
                                     size, rows, cols, n * 4));
    return std::make_unique<FloatGridRows>(o, header, rows, cols);
}

bool is_header_key(std::string_view key) {
    static const char* keys[] = {"ncols",     "nrows",     "xllcorner", "yllcorner",    "xllcenter", "yllcenter",
                                 "cellsize",  "nodata_value", "byteorder", "dx",        "dy",        "nbits",
                                 "nbands",    "layout",    "pixeltype", "ulxmap",       "ulymap",    "xdim",
                                 "ydim",      "nodata",    "bandrowbytes", "totalrowbytes", "bandgapbytes"};
    std::string k = text::lower(key);
    return std::any_of(std::begin(keys), std::end(keys), [&](const char* s) { return k == s; });
}

}  // namespace

int32_t cell_code(double value, double background, std::optional<double> extra_nodata) {
    if (std::isnan(value)) return kOutsideCell;
    if (same_float(value, background)) return background >= 0 ? kInteriorBackgroundCell : kOutsideCell;
    if (extra_nodata && same_float(value, *extra_nodata)) return kOutsideCell;
    if (!std::isfinite(value)) throw InputError("the value is infinite");
    const double r = std::nearbyint(value);
    if (std::fabs(value - r) > 1e-3) throw InputError(fmt::format("the value {} is not a whole class code", value));
    if (r > INT32_MAX || r < -static_cast<double>(INT32_MAX - 1))
        throw InputError(fmt::format("the value {} is outside the range of class codes", value));
    return static_cast<int32_t>(r);
}

GridHeader parse_grid_header(std::string_view content) {
    GridHeader h;
    std::istringstream in{std::string(content)};
    std::string line;
    int line_no = 0;
    while (std::getline(in, line)) {
        ++line_no;
        auto f = text::fields(line, false);
        if (f.empty()) continue;
        if (f.size() < 2) throw InputError(fmt::format("line {}: '{}' has no value", line_no, text::trim(line)));
        const std::string key = text::lower(f[0]);
        auto need_count = [&]() {
            auto v = text::to_int(f[1]);
            if (!v || *v <= 0) throw InputError(fmt::format("line {}: {} '{}' is not a positive whole number",
                                                            line_no, f[0], f[1]));
            return *v;
        };
        auto need_number = [&]() {
            auto v = text::to_double(f[1]);
            if (!v) throw InputError(fmt::format("line {}: {} '{}' is not a number", line_no, f[0], f[1]));
            return *v;
        };
        if (key == "ncols") {
            h.cols = need_count();
        } else if (key == "nrows") {
            h.rows = need_count();
        } else if (key == "cellsize") {
            h.cell_size = need_number();
        } else if (key == "nodata_value" || key == "nodata") {
            h.nodata = need_number();
        } else if (key == "byteorder") {
            const std::string v = text::lower(f[1]);
            if (v == "lsbfirst" || v == "i" || v == "intel" || v == "lsb")
                h.byte_order = ByteOrder::Little;
            else if (v == "msbfirst" || v == "m" || v == "motorola" || v == "msb")
                h.byte_order = ByteOrder::Big;
            else
                throw InputError(fmt::format("line {}: unknown byte order '{}'", line_no, f[1]));
        }
        // Georeferencing keys (xllcorner, ...) do not matter to the metrics.
    }
    return h;
}

ClassGrid parse_ascii_grid(std::string_view content, std::optional<int64_t> rows, std::optional<int64_t> cols,
                           double background) {
    GridHeader header;
    std::string header_text;
    std::vector<double> values;
    int64_t data_lines = 0, width = -1;
    bool ragged = false, in_header = true;
    size_t pos = 0;
    int64_t line_no = 0;
    while (pos <= content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        auto f = text::fields(line, true);
        if (f.empty()) continue;
        if (in_header && is_header_key(f[0])) {
            header_text.append(line).push_back('\n');
            continue;
        }
        in_header = false;
        ++data_lines;
        if (width < 0) width = static_cast<int64_t>(f.size());
        else if (width != static_cast<int64_t>(f.size())) ragged = true;
        for (auto tok : f) {
            auto v = text::to_double(tok);
            if (!v) {
                if (text::lower(tok) == "nan") v = std::nan("");
                else throw InputError(fmt::format("line {}: '{}' is not a number", line_no, tok));
            }
            values.push_back(*v);
        }
        if (end == content.size()) break;
    }
    header = parse_grid_header(header_text);
    if (!rows && !header.rows && !ragged && data_lines > 0) rows = data_lines;
    if (!cols && !header.cols && !ragged && width > 0) cols = width;
    ClassGrid g;
    g.rows = pick_dimension(rows, header.rows, "rows");
    g.cols = pick_dimension(cols, header.cols, "columns");
    const int64_t n = checked_cells(g.rows, g.cols);
    if (static_cast<int64_t>(values.size()) != n)
        throw InputError(fmt::format("the text grid holds {} values, but {} x {} cells need {}", values.size(),
                                     g.rows, g.cols, n));
    g.cells.resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        try {
            g.cells[i] = cell_code(values[i], background, header.nodata);
        } catch (const InputError& e) {
            bad_cell(i, g.cols, e);
        }
    }
    return g;
}

std::unique_ptr<GridRows> grid_rows(const ClassGrid& grid) { return std::make_unique<MemoryGridRows>(grid); }

std::unique_ptr<GridRows> open_grid(const Options& o) {
    if (o.data_type == DataType::FloatGrid) return open_float_grid(o);
    auto text = text::read_file(o.in_image);
    if (!text) throw InputError(fmt::format("cannot read the grid '{}'", o.in_image));
    return std::make_unique<OwnedGridRows>(parse_ascii_grid(*text, o.rows, o.cols, o.background));
}

ClassGrid read_grid(const Options& o) {
    const auto src = open_grid(o);
    ClassGrid g;
    g.rows = src->rows;
    g.cols = src->cols;
    g.cells.resize(static_cast<size_t>(g.rows * g.cols));
    src->read(0, g.rows, g.cells.data());
    return g;
}

}  // namespace korvane::fragstat
