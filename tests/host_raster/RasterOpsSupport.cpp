#include "RasterOpsSupport.h"

#include <cmath>

#include "host/data/Workspace.h"

namespace h = korvane::host;

namespace korvane::test {

GridSpec grid4(std::vector<double> cells, double noData, double originX) {
    GridSpec g;
    g.columns = 4;
    g.rows = 4;
    g.originX = originX;
    g.originY = 40;
    g.noData = noData;
    g.cells = std::move(cells);
    return g;
}

std::vector<int32_t> cellsOf(const h::RasterDataset& r) {
    std::vector<int32_t> out;
    r.readBlocks([&](const h::RasterBlock& b) {
        for (double v : b.cells) out.push_back(std::isnan(v) ? N : static_cast<int32_t>(v));
    });
    return out;
}

std::vector<std::string> tableRows(h::RasterDataset& r) {
    std::vector<std::string> out;
    h::TablePtr t = r.attributeTable();
    if (!t) return out;
    h::Cursor c = t->search(nullptr, false);
    while (h::RowPtr row = c.next()) {
        std::string line;
        for (int32_t i = 0; i < t->fields().count(); ++i) {
            if (t->fields().field(i).type == h::FieldOID) continue;
            const h::Value& v = row->value(i);
            std::string text = h::toText(v);
            if (std::holds_alternative<double>(v) || std::holds_alternative<float>(v)) {
                double d = h::toDouble(v);
                char buf[64];
                std::snprintf(buf, sizeof buf, "%g", d);
                text = buf;
            }
            line += (line.empty() ? "" : " ") + text;
        }
        out.push_back(line);
    }
    return out;
}

void writeValueTable(h::RasterDataset& r, const std::vector<h::FieldDef>& fields,
                     const std::vector<std::vector<h::Value>>& rows) {
    std::string dbf = r.tableSidecarPath();
    std::string folder = dbf.substr(0, dbf.rfind('/'));
    std::string name = dbf.substr(folder.size() + 1);
    name = name.substr(0, name.size() - 4);
    auto t = h::ShapefileWorkspace::open(folder).createTable(name, fields);
    for (const auto& values : rows) {
        auto row = t->createRow();
        for (size_t i = 0; i < values.size(); ++i) row->setValue(fields[i].name, values[i]);
        row->store();
    }
    t->flush();
    t->close();
    r.close();
}

}  // namespace korvane::test
