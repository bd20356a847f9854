// Region grouping on fragstat's component labeller, and zonal geometry.
#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "fragstat/fragstat.h"
#include "host/Failure.h"
#include "host/data/RasterImpl.h"
#include "host/data/RasterOperatorsImpl.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

RasterDatasetPtr regionGroup(const RasterDatasetPtr& input, const RegionGroupOptions& options,
                             const RasterAnalysisEnvironment& env, const std::string& outPath) {
    constexpr const char* kSource = "regionGroup";
    if (!input || !input->isIntegerGrid())
        fail(err::HostInvalidArg, kSource, "Only a single-band integer grid can be grouped into regions.");
    ops::checkMaskCrs(env.mask, input->spatialReference(), kSource);
    double cs = input->cellSizeX();
    if (options.geometry && std::fabs(input->cellSizeX() - input->cellSizeY()) > 1e-9 * cs)
        fail(err::HostInvalidArg, kSource, "The cells of " + input->path() + " are not square.");
    RasterLattice lattice = env.outputLattice(*input);
    ops::LatticeReader reader(*input, lattice);
    ops::MaskRows byEnv(env.mask, lattice);
    ops::GridWriter out(outPath, lattice, true, ops::outputCrs(env, input->spatialReference()), kSource);

    // The labeller may ask for rows from several threads: GDAL's handle is
    // read by one at a time.
    std::mutex readLock;
    fragstat::RowSource read = [&](int64_t first, int64_t count, int32_t* cells) {
        {
            std::lock_guard<std::mutex> lock(readLock);
            reader.readInt(first, count, cells);
            byEnv.apply(first, count, cells);
        }
        if (options.codes) {
            // Runs of one value are common in class grids: the last lookup is kept.
            size_t n = static_cast<size_t>(count * lattice.columns);
            int32_t lastIn = kIntegerNoData, lastOut = kIntegerNoData;
            for (size_t i = 0; i < n; ++i) {
                int32_t v = cells[i];
                if (v == kIntegerNoData) continue;
                if (v != lastIn) {
                    auto it = options.codes->find(v);
                    lastIn = v;
                    lastOut = it == options.codes->end() ? kIntegerNoData : it->second;
                }
                cells[i] = lastOut;
            }
        }
        if (!options.withinZones) {
            size_t n = static_cast<size_t>(count * lattice.columns);
            for (size_t i = 0; i < n; ++i)
                if (cells[i] != kIntegerNoData) cells[i] = 1;
        }
    };
    fragstat::ComponentOptions co;
    co.diags = options.eightNeighbours;
    co.none = kIntegerNoData;
    co.threads = options.threads;
    // The strips the workers hold at once stay within about eight million
    // cells whatever the number of cores (a strip costs some 17 bytes a cell
    // while it is labelled); the writer lets each row of tiles go when done,
    // so a strip lower than a row of tiles is a whole part of one (a power of
    // two rows), and a row of tiles is written out as soon as it is complete.
    const int64_t workers = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    co.strip_rows = std::clamp<int64_t>((int64_t{8} << 20) / std::max<int64_t>(1, workers * lattice.columns), 16,
                                        ops::stripRows(lattice.columns));
    if (co.strip_rows < ops::kTileRows) co.strip_rows = std::bit_floor(static_cast<uint64_t>(co.strip_rows));
    std::vector<int32_t> ids;
    std::optional<ops::ZoneGeometryCounter> geometry;
    if (options.geometry) geometry.emplace(lattice.columns);
    fragstat::IdSink sink = [&](int64_t first, int64_t count, const int64_t* labels) {
        size_t n = static_cast<size_t>(count * lattice.columns);
        ids.resize(n);
        for (size_t i = 0; i < n; ++i) {
            int64_t id = labels[i];
            if (id > INT32_MAX) fail(err::HostInvalidArg, kSource, "More regions than a long integer grid numbers.");
            ids[i] = id == 0 ? kIntegerNoData : static_cast<int32_t>(id);
        }
        out.write(first, count, ids.data());
        if (geometry) geometry->add(ids.data(), count);
        reportProgress(static_cast<double>(first + count) / static_cast<double>(lattice.rows));
    };
    fragstat::Components parts = fragstat::label_components(lattice.rows, lattice.columns, read, co, sink);

    ops::ValueTableRows table;
    table.fields = data::valueTableFields();
    if (options.addLink) table.fields.push_back({"Link", FieldInteger, 0, 11, 0});
    table.rows.reserve(static_cast<size_t>(parts.count()));
    for (int64_t i = 0; i < parts.count(); ++i) {
        int64_t cells = parts.cells[static_cast<size_t>(i)];
        if (cells > INT32_MAX)
            fail(err::HostInvalidArg, kSource, fmt::format("Region {} covers more cells than a Count field holds.", i + 1));
        std::vector<Value> row;
        row.reserve(std::max(table.fields.size(), options.table ? options.rowCapacity : 0));
        row.push_back(Value(static_cast<int32_t>(i + 1)));
        row.push_back(Value(static_cast<int32_t>(cells)));
        if (options.addLink) row.push_back(Value(options.withinZones ? parts.value[static_cast<size_t>(i)] : 1));
        table.rows.push_back(std::move(row));
    }
    if (geometry) *options.geometry = geometry->finish(lattice.cellSize);
    if (options.table) {
        *options.table = std::move(table);
        return out.finish(nullptr);
    }
    return out.finish(&table);
}

// ---------------------------------------------------------------- zonal geometry

namespace ops {

ZoneGeometryCounter::ZoneGeometryCounter(int64_t columns)
    : columns_(columns), above_(static_cast<size_t>(columns), kIntegerNoData) {}

void ZoneGeometryCounter::add(const int32_t* cells, int64_t rows) {
    const int64_t cols = columns_;
    for (int64_t r = 0; r < rows; ++r) {
        const int32_t* row = cells + r * cols;
        const int32_t* up = r == 0 ? above_.data() : row - cols;
        int32_t prev = kIntegerNoData;
        ZoneSum* cur = nullptr;
        for (int64_t c = 0; c < cols; ++c) {
            int32_t v = row[c];
            if (v != prev) {
                // A run ends: the edge between the two runs counts for both.
                if (cur) ++cur->edges;
                cur = v == kIntegerNoData ? nullptr : &sums_.at(v);
                if (cur) ++cur->edges;
                prev = v;
            }
            if (!cur) continue;
            ++cur->cells;
            if (up[c] != v) ++cur->edges;
        }
        if (cur) ++cur->edges;
        // Edges facing the row above, from the zones above.
        for (int64_t c = 0; c < cols; ++c)
            if (up[c] != row[c] && up[c] != kIntegerNoData) ++sums_.at(up[c]).edges;
    }
    if (rows > 0) std::copy(cells + (rows - 1) * cols, cells + rows * cols, above_.begin());
}

ZonalGeometryTable ZoneGeometryCounter::finish(double cs) {
    for (int64_t c = 0; c < columns_; ++c)
        if (above_[static_cast<size_t>(c)] != kIntegerNoData) ++sums_.at(above_[static_cast<size_t>(c)]).edges;
    std::fill(above_.begin(), above_.end(), kIntegerNoData);
    ZonalGeometryTable t;
    for (const auto& [v, s] : sums_.sorted([](const ZoneSum& s) { return s.cells > 0; }))
        t.rows_.push_back({v, s.cells, static_cast<double>(s.cells) * cs * cs, static_cast<double>(s.edges) * cs});
    if (!t.rows_.empty()) {
        int64_t lo = t.rows_.front().value, hi = t.rows_.back().value;
        if (hi - lo < static_cast<int64_t>(t.rows_.size()) * 4 + 1024) {
            t.denseBase_ = lo;
            t.dense_.assign(static_cast<size_t>(hi - lo + 1), 0);
            for (size_t i = 0; i < t.rows_.size(); ++i)
                t.dense_[static_cast<size_t>(t.rows_[i].value - lo)] = static_cast<int32_t>(i + 1);
        } else {
            for (size_t i = 0; i < t.rows_.size(); ++i) t.sparse_.emplace(t.rows_[i].value, static_cast<int32_t>(i + 1));
        }
    }
    return t;
}

}  // namespace ops

ZonalGeometryTable zonalGeometry(const RasterDataset& zones) {
    constexpr const char* kSource = "zonalGeometry";
    if (!zones.isIntegerGrid())
        fail(err::HostInvalidArg, kSource, "Zones come from a single-band integer grid; " + zones.path() + " is not one.");
    double cs = zones.cellSizeX();
    if (std::fabs(zones.cellSizeX() - zones.cellSizeY()) > 1e-9 * cs)
        fail(err::HostInvalidArg, kSource, "The cells of " + zones.path() + " are not square.");
    RasterLattice lattice = latticeOf(zones);
    ops::LatticeReader reader(zones, lattice);
    ops::ZoneGeometryCounter counter(lattice.columns);
    std::vector<int32_t> cells;
    ops::forEachStrip(lattice, [&](int64_t first, int64_t rows, size_t size) {
        cells.resize(size);
        reader.readInt(first, rows, cells.data());
        counter.add(cells.data(), rows);
    });
    return counter.finish(cs);
}

const ZoneGeometry* ZonalGeometryTable::find(int64_t value) const {
    if (!dense_.empty()) {
        int64_t i = value - denseBase_;
        if (i < 0 || i >= static_cast<int64_t>(dense_.size()) || dense_[static_cast<size_t>(i)] == 0) return nullptr;
        return &rows_[static_cast<size_t>(dense_[static_cast<size_t>(i)] - 1)];
    }
    auto it = sparse_.find(value);
    return it == sparse_.end() ? nullptr : &rows_[static_cast<size_t>(it->second - 1)];
}

TablePtr ZonalGeometryTable::writeTable(const std::string& dbfPath) const {
    std::error_code ec;
    if (std::filesystem::exists(dbfPath, ec))
        fail(err::HostGeneric, "zonalGeometry", "A file named " + dbfPath + " exists.");
    TablePtr t = data::createDbf(dbfPath, {{"Value", FieldInteger, 0, 11, 0},
                                           {"Area", FieldDouble, 0, 20, 5},
                                           {"Perimeter", FieldDouble, 0, 20, 5}});
    try {
        InsertCursor ins = t->insert(true);
        RowPtr buf = ins.createRowBuffer();
        for (const ZoneGeometry& z : rows_) {
            buf->setValue(1, Value(static_cast<int32_t>(z.value)));
            buf->setValue(2, Value(z.area));
            buf->setValue(3, Value(z.perimeter));
            ins.insertRow(*buf);
        }
        ins.flush();
        t->flush();
    } catch (...) {
        t->close();
        data::removeDbf(dbfPath);
        throw;
    }
    return t;
}

}  // namespace korvane::host
