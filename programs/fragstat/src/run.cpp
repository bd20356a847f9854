// The program's flow: command line, grid, metrics, output files.
#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "engine.h"
#include "fragstat/fragstat.h"
#include "text.h"

namespace korvane::fragstat {
namespace {

namespace fs = std::filesystem;

struct OutputFile {
    fs::path path;
    std::string header;
    std::vector<std::string> lines;
};

// New records go after what the file already holds; a file that does not
// start with the same header gets the header again, so a reader that starts
// a fresh column map at every header line reads both parts right.
std::string file_text(const OutputFile& f) {
    std::string out;
    std::error_code ec;
    if (fs::exists(f.path, ec)) {
        auto old = text::read_file(f.path);
        if (!old) throw InputError(fmt::format("cannot read the existing output file '{}'", f.path.string()));
        out = std::move(*old);
        if (!out.empty() && out.back() != '\n') out += '\n';
    }
    const std::string first = out.substr(0, out.find('\n'));
    if (text::trim(first) != f.header) out += f.header + '\n';
    for (const auto& l : f.lines) out += l + '\n';
    return out;
}

// Writes every file or none: all contents go to temporary files first, which
// then replace the targets.
void write_all(const std::vector<OutputFile>& files) {
    std::vector<fs::path> temps;
    auto cleanup = [&]() {
        std::error_code ec;
        for (const auto& t : temps) fs::remove(t, ec);
    };
    try {
        for (const auto& f : files) {
            const std::string content = file_text(f);
            fs::path tmp = f.path;
            tmp += ".tmp~";
            temps.push_back(tmp);
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            out << content;
            out.close();
            if (!out) throw InputError(fmt::format("cannot write the output file '{}'", f.path.string()));
        }
        for (size_t i = 0; i < files.size(); ++i) {
            std::error_code ec;
            fs::rename(temps[i], files[i].path, ec);
            if (ec) {
                // Take back what was already put in place.
                for (size_t j = 0; j < i; ++j) fs::remove(files[j].path, ec);
                throw InputError(fmt::format("cannot write the output file '{}'", files[i].path.string()));
            }
        }
    } catch (...) {
        cleanup();
        throw;
    }
}

OutputFile patch_file(const Results& r, const Params& p, const std::string& base, const std::string& lid) {
    OutputFile f{base + ".patch", "LID PID TYPE AREA PERIM SHAPE FRAC CORE NCORE CAI NEAR PROXIM", {}};
    const double c = p.cell_size, ha = c * c / 1e4;
    for (const auto& rec : r.patches) {
        const auto cells = static_cast<double>(rec.cells);
        const double a_m2 = cells * c * c, per = static_cast<double>(rec.perimeter_sides) * c;
        const double frac = detail::patch_fractal(per, a_m2);
        f.lines.push_back(fmt::format(
            "{} {} {} {} {} {} {} {} {} {} {} {}", lid, rec.id, rec.type, format_value(cells * ha, false),
            format_value(per, false),
            format_value(0.25 * static_cast<double>(rec.perimeter_sides) / std::sqrt(cells), false),
            format_value(frac, false), format_value(static_cast<double>(rec.core_cells) * ha, false), rec.cores,
            format_value(100.0 * static_cast<double>(rec.core_cells) / cells, false),
            format_value(rec.nearest, false), format_value(rec.proximity, false)));
    }
    return f;
}

}  // namespace

Params params_from(const Options& o, std::optional<WeightTable> weights) {
    Params p;
    p.cell_size = o.cell_size;
    p.edge_depth = o.edge_depth;
    p.bwt = o.bwt;
    p.diags = o.diags;
    p.prox_dist = o.prox_dist;
    p.nndist = o.nndist;
    p.max_classes = o.max_classes;
    p.weights = std::move(weights);
    p.patch_records = o.patch_stats;
    return p;
}

int run(std::span<const std::string> args, std::ostream& err) {
    Options o;
    try {
        o = parse_command_line(args);
    } catch (const UsageError& e) {
        err << "fragstat: " << e.what() << "\n" << usage_text();
        return 2;
    }
    auto warn = [&](const std::string& m) { err << "fragstat: warning: " << m << "\n"; };
    try {
        if (o.id_image) warn("the patch id image is not supported; ignored");
        if (o.desc_file) warn("the class descriptor file is not supported; classes are named by their values");
        std::optional<WeightTable> weights;
        if (o.weight_file) {
            if (auto content = text::read_file(*o.weight_file)) {
                std::vector<std::string> w;
                weights = parse_weight_file(*content, o.background, w);
                for (const auto& m : w) warn(m);
            } else {
                warn(fmt::format("cannot read the weight file '{}'; CWED is not computed", *o.weight_file));
            }
        }
        ClassGrid grid = read_grid(o);
        const Params p = params_from(o, std::move(weights));
        const Results r = compute(std::move(grid), p);
        for (const auto& m : r.warnings) warn(m);

        const std::string lid = lid_token(o.in_image);
        std::vector<OutputFile> files;
        files.push_back({o.out_base + ".land", land_header(), {land_line(r, lid)}});
        if (o.class_stats) files.push_back({o.out_base + ".class", class_header(), class_lines(r, lid)});
        if (o.patch_stats) files.push_back(patch_file(r, p, o.out_base, lid));
        write_all(files);
        return 0;
    } catch (const InputError& e) {
        err << "fragstat: " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        err << "fragstat: not enough memory for this grid\n";
    } catch (const std::exception& e) {
        err << "fragstat: " << e.what() << "\n";
    }
    return 1;
}

}  // namespace korvane::fragstat
