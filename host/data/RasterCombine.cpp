// Combine: one value per distinct tuple of aligned grids.
#include <fmt/format.h>

#include <cmath>
#include <filesystem>
#include <cstring>
#include <string_view>

#include "host/Failure.h"
#include "host/data/RasterImpl.h"
#include "host/data/RasterOperatorsImpl.h"

namespace korvane::host {

namespace {
constexpr const char* kSource = "combine";

// Whether a is a whole number of cells (within a millionth of one).
bool wholeCells(double a, double cell) {
    double n = a / cell;
    return std::fabs(n - std::round(n)) < 1e-6;
}
}  // namespace

std::string alignmentProblem(const std::vector<RasterDatasetPtr>& grids) {
    if (grids.empty()) return {};
    const RasterDataset& first = *grids.front();
    double cs = first.cellSizeX();
    for (const RasterDatasetPtr& g : grids) {
        if (std::fabs(g->cellSizeX() - g->cellSizeY()) > 1e-9 * g->cellSizeX())
            return "the cells of " + g->name() + " are not square";
        if (!sameCoordinateSystem(first.spatialReference(), g->spatialReference()))
            return g->name() + " is in another coordinate system than " + first.name();
        if (std::fabs(g->cellSizeX() - cs) > 1e-9 * cs)
            return fmt::format("{} has cells of {}, {} of {}", g->name(), g->cellSizeX(), first.name(), cs);
        if (!wholeCells(g->extent().xmin - first.extent().xmin, cs) ||
            !wholeCells(g->extent().ymax - first.extent().ymax, cs))
            return "the cells of " + g->name() + " do not line up with those of " + first.name();
    }
    return {};
}

std::vector<std::string> combineFieldNames(const std::vector<RasterDatasetPtr>& inputs) {
    Fields taken(data::valueTableFields());
    std::vector<std::string> names;
    for (const RasterDatasetPtr& g : inputs) {
        std::string stem = g->name();
        if (size_t dot = stem.find('.'); dot != std::string::npos && dot > 0) stem = stem.substr(0, dot);
        std::string n = data::dbfFieldName(stem, taken);
        taken.add({n, FieldInteger, 0, 11, 0});
        names.push_back(n);
    }
    return names;
}

RasterDatasetPtr combine(const std::vector<RasterDatasetPtr>& inputs, const RasterAnalysisEnvironment& env,
                         const std::string& outPath) {
    if (inputs.size() < 2) fail(err::HostInvalidArg, kSource, "Combine takes two grids or more.");
    for (const RasterDatasetPtr& g : inputs)
        if (!g || !g->isIntegerGrid())
            fail(err::HostInvalidArg, kSource,
                 "Only single-band integer grids can be combined" + (g ? ": " + g->name() + " is not one." : "."));
    if (std::string why = alignmentProblem(inputs); !why.empty())
        fail(err::HostInvalidArg, kSource, "The grids are not aligned: " + why + ".");
    const RasterDataset& first = *inputs.front();
    double cs = first.cellSizeX();
    Envelope e = first.extent();
    for (const RasterDatasetPtr& g : inputs) {
        Envelope o = g->extent();
        e.xmin = std::max(e.xmin, o.xmin);
        e.xmax = std::min(e.xmax, o.xmax);
        e.ymin = std::max(e.ymin, o.ymin);
        e.ymax = std::min(e.ymax, o.ymax);
    }
    RasterLattice lattice;
    lattice.xmin = e.xmin;
    lattice.ymax = e.ymax;
    lattice.cellSize = cs;
    lattice.columns = std::max<int64_t>(0, std::llround((e.xmax - e.xmin) / cs));
    lattice.rows = std::max<int64_t>(0, std::llround((e.ymax - e.ymin) / cs));
    if (lattice.columns == 0 || lattice.rows == 0)
        fail(err::HostInvalidArg, kSource, "The grids do not overlap.");
    ops::checkMaskCrs(env.mask, first.spatialReference(), kSource);
    std::vector<std::string> names = combineFieldNames(inputs);

    const size_t n = inputs.size();
    std::vector<std::unique_ptr<ops::LatticeReader>> readers;
    for (const RasterDatasetPtr& g : inputs) readers.push_back(std::make_unique<ops::LatticeReader>(*g, lattice));
    ops::MaskRows byEnv(env.mask, lattice);
    ops::GridWriter out(outPath, lattice, true, ops::outputCrs(env, first.spatialReference()), kSource);

    // Tuples by their bytes; ids from 1 in order of first occurrence.
    std::unordered_map<std::string, int32_t> ids;
    std::vector<int32_t> tuples;  // id - 1 -> its n values
    std::vector<int64_t> counts;
    std::vector<std::vector<int32_t>> in(n);
    std::vector<int32_t> result;
    std::string key(n * sizeof(int32_t), '\0');
    ops::forEachStrip(lattice, [&](int64_t r, int64_t rows, size_t size) {
        for (size_t k = 0; k < n; ++k) {
            in[k].resize(size);
            readers[k]->readInt(r, rows, in[k].data());
        }
        result.assign(size, 0);
        byEnv.apply(r, rows, result.data());
        std::string last;
        int32_t lastId = 0;
        for (size_t i = 0; i < size; ++i) {
            if (result[i] == kIntegerNoData) continue;
            bool none = false;
            for (size_t k = 0; k < n && !none; ++k) {
                int32_t v = in[k][i];
                none = v == kIntegerNoData;
                std::memcpy(key.data() + k * sizeof(int32_t), &v, sizeof v);
            }
            if (none) {
                result[i] = kIntegerNoData;
                continue;
            }
            if (key != last) {
                auto [it, added] = ids.try_emplace(key, static_cast<int32_t>(ids.size() + 1));
                if (added) {
                    if (ids.size() >= static_cast<size_t>(INT32_MAX))
                        fail(err::HostInvalidArg, kSource, "More distinct combinations than a grid numbers.");
                    for (size_t k = 0; k < n; ++k) tuples.push_back(in[k][i]);
                    counts.push_back(0);
                }
                last = key;
                lastId = it->second;
            }
            result[i] = lastId;
            ++counts[static_cast<size_t>(lastId - 1)];
        }
        out.write(r, rows, result.data());
    });

    ops::ValueTableRows table;
    table.fields = {{"VALUE", FieldInteger, 0, 11, 0}, {"COUNT", FieldInteger, 0, 11, 0}};
    for (const std::string& name : names) table.fields.push_back({name, FieldInteger, 0, 11, 0});
    table.rows.reserve(counts.size());
    for (size_t id = 0; id < counts.size(); ++id) {
        if (counts[id] > INT32_MAX)
            fail(err::HostInvalidArg, kSource, fmt::format("Value {} covers more cells than a COUNT field holds.", id + 1));
        std::vector<Value> row{Value(static_cast<int32_t>(id + 1)), Value(static_cast<int32_t>(counts[id]))};
        for (size_t k = 0; k < n; ++k) row.push_back(Value(tuples[id * n + k]));
        table.rows.push_back(std::move(row));
    }
    return out.finish(&table);
}

}  // namespace korvane::host
