#include "host/data/ZonalStatistics.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <unordered_map>

#include "host/Failure.h"
#include "host/data/RasterOperators.h"
#include "host/data/Workspace.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "ZonalStatistics";

struct Accumulator {
    int64_t count = 0;
    bool noData = false;
    double mean = 0, m2 = 0, sum = 0;   // Welford's running mean and squared deviations
    double min = 0, max = 0;
    std::unordered_map<double, int64_t> histogram;   // ordered once, for the table

    void add(double v) {
        if (count == 0) min = max = v;
        min = std::min(min, v);
        max = std::max(max, v);
        ++count;
        sum += v;
        const double d = v - mean;
        mean += d / static_cast<double>(count);
        m2 += d * (v - mean);
        ++histogram[v];
    }
};

}  // namespace

TablePtr zonalStatisticsAsTable(const FeatureClassPtr& zones, const std::string& zoneField,
                                const RasterDatasetPtr& values, bool ignoreNoData, const std::string& outDbfPath,
                                const RasterAnalysisEnvironment& env) {
    if (!zones || !values) fail(err::HostInvalidArg, kSource, "Zonal statistics need zones and values.");
    const int32_t fieldAt = zones->findField(zoneField);
    if (fieldAt < 0) fail(err::HostInvalidArg, kSource, "The zones have no field " + zoneField + ".");
    FieldDef keyDef = zones->fields().field(fieldAt);
    if (keyDef.type == FieldOID) keyDef = {keyDef.name, FieldInteger, 0, 9, 0};
    const bool text = keyDef.type == FieldString;
    const RasterLattice lattice = latticeOf(*values);

    // The zones on the value raster's cells; each cell's zone as a slot.
    RasterDatasetPtr zoneGrid =
        featuresToRaster(zones, nullptr, zoneField, lattice, env, {}, values->spatialReference());
    std::vector<int32_t> slotOf(static_cast<size_t>(lattice.columns * lattice.rows), -1);
    std::unordered_map<double, int32_t> slotOfZone;
    std::vector<double> zoneValue;
    std::map<int32_t, std::string> textOfCode;
    try {
        if (text) {
            TablePtr vat = zoneGrid->attributeTable();
            if (!vat) fail(err::HostGeneric, kSource, "The zone grid has no value table.");
            const int32_t v = vat->findField("Value"), t = vat->findField(keyDef.name);
            Cursor c = vat->search(nullptr, true);
            while (RowPtr r = c.next())
                textOfCode[static_cast<int32_t>(toDouble(r->value(v)))] = toText(r->value(t));
        }
        // Zones cover runs of cells: the last zone's slot is kept.
        double lastZone = std::numeric_limits<double>::quiet_NaN();
        int32_t lastSlot = -1;
        zoneGrid->readBlocks([&](const RasterBlock& b) {
            const size_t first = static_cast<size_t>(b.firstRow * lattice.columns);
            for (size_t i = 0; i < b.cells.size(); ++i) {
                const double z = b.cells[i];
                if (std::isnan(z)) continue;
                if (z != lastZone) {
                    auto [it, added] = slotOfZone.emplace(z, static_cast<int32_t>(zoneValue.size()));
                    if (added) zoneValue.push_back(z);
                    lastZone = z;
                    lastSlot = it->second;
                }
                slotOf[first + i] = lastSlot;
            }
        });
    } catch (...) {
        removeTemporaryRaster(zoneGrid);
        throw;
    }
    removeTemporaryRaster(zoneGrid);

    // One pass over the values.
    std::vector<Accumulator> acc(zoneValue.size());
    values->readBlocks([&](const RasterBlock& b) {
        const size_t first = static_cast<size_t>(b.firstRow * lattice.columns);
        for (size_t i = 0; i < b.cells.size(); ++i) {
            const int32_t slot = slotOf[first + i];
            if (slot < 0) continue;
            const double v = b.cells[i];
            if (std::isnan(v)) acc[static_cast<size_t>(slot)].noData = true;
            else acc[static_cast<size_t>(slot)].add(v);
        }
    });

    // The rows, ascending by zone value.
    std::vector<size_t> order(zoneValue.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return zoneValue[a] < zoneValue[b]; });

    const FieldDef real = {"", FieldDouble, 0, 30, 6};
    auto named = [](FieldDef f, const char* name) {
        f.name = name;
        return f;
    };
    const FieldDef whole = {"", FieldInteger, 0, 12, 0};
    std::vector<FieldDef> defs = {keyDef,
                                  named(whole, "Count"),
                                  named(real, "Area"),
                                  named(real, "Min"),
                                  named(real, "Max"),
                                  named(real, "Range"),
                                  named(real, "Mean"),
                                  named(real, "Std"),
                                  named(real, "Sum"),
                                  named(whole, "Variety"),
                                  named(real, "Majority"),
                                  named(real, "Minority"),
                                  named(real, "Median")};
    const double cellArea = lattice.cellSize * lattice.cellY();
    std::vector<std::vector<Value>> rows;
    for (size_t slot : order) {
        const Accumulator& a = acc[slot];
        std::vector<Value> row(defs.size());
        if (text) row[0] = textOfCode[static_cast<int32_t>(zoneValue[slot])];
        else row[0] = zoneValue[slot];
        if (a.count == 0 && !a.noData) continue;
        if (a.count > 0 && (ignoreNoData || !a.noData)) {
            int64_t most = 0, least = INT64_MAX, seen = 0;
            double majority = 0, minority = 0, median = 0;
            const int64_t middle = (a.count - 1) / 2;
            bool medianFound = false;
            std::vector<std::pair<double, int64_t>> ascending(a.histogram.begin(), a.histogram.end());
            std::sort(ascending.begin(), ascending.end(),
                      [](const auto& x, const auto& y) { return x.first < y.first; });
            for (const auto& [v, n] : ascending) {
                if (n > most) most = n, majority = v;
                if (n < least) least = n, minority = v;
                if (!medianFound && seen + n > middle) median = v, medianFound = true;
                seen += n;
            }
            const double sd = std::sqrt(a.m2 / static_cast<double>(a.count));
            row[1] = static_cast<double>(a.count);
            row[2] = static_cast<double>(a.count) * cellArea;
            row[3] = a.min;
            row[4] = a.max;
            row[5] = a.max - a.min;
            row[6] = a.mean;
            row[7] = sd;
            row[8] = a.sum;
            row[9] = static_cast<double>(a.histogram.size());
            row[10] = majority;
            row[11] = minority;
            row[12] = median;
        }
        for (size_t i = 0; i < defs.size(); ++i) row[i] = valueForField(defs[i], std::move(row[i]));
        rows.push_back(std::move(row));
    }

    const stdfs::path out(outDbfPath);
    ShapefileWorkspace ws = ShapefileWorkspace::open(out.parent_path().string());
    TablePtr table = ws.createTable(out.stem().string(), defs);
    try {
        InsertCursor ins = table->insert(true);
        RowPtr buffer = ins.createRowBuffer();
        for (std::vector<Value>& row : rows) {
            for (size_t i = 0; i < row.size(); ++i) buffer->setValue(static_cast<int32_t>(i) + 1, row[i]);
            ins.insertRow(*buffer);
        }
        ins.flush();
        table->flush();
    } catch (...) {
        table->close();
        table.reset();
        ws.deleteDataset(out.stem().string());
        throw;
    }
    return table;
}

}  // namespace korvane::host
