// The program's flow: command line, grid, metrics, output files.
#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "engine.h"
#include "output_files.h"
#include "fragstat/fragstat.h"
#include "text.h"

namespace korvane::fragstat {
namespace {

namespace fs = std::filesystem;

using detail::OutputFile;

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
    p.threads = o.threads;
    return p;
}

int run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << usage_text();
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        out << "fragstat " << KORVANE_VERSION_MAJOR << "." << KORVANE_VERSION_MINOR << "." << KORVANE_VERSION_REVISION
            << "\n";
        return 0;
    }
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
        const auto grid = open_grid(o);
        const Params p = params_from(o, std::move(weights));
        const Results r = compute(*grid, p);
        for (const auto& m : r.warnings) warn(m);

        const std::string lid = lid_token(o.in_image);
        std::vector<OutputFile> files;
        files.push_back({o.out_base + ".land", land_header(), {land_line(r, lid)}});
        if (o.class_stats) files.push_back({o.out_base + ".class", class_header(), class_lines(r, lid)});
        if (o.patch_stats) files.push_back(patch_file(r, p, o.out_base, lid));
        detail::write_all(files);
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

int run(std::span<const std::string> args, std::ostream& err) { return run(args, err, err); }

}  // namespace korvane::fragstat
