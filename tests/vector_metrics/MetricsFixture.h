#pragma once
// Small polygon landscapes on disk, a document that shows them, and readers
// for the tables a metric run writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../vector_frame/TestUi.h"
#include "host/Application.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"

namespace kvtest {

namespace h = korvane::host;

// A fresh folder, removed with its contents afterwards.
class Folder {
public:
    Folder() {
        static int n = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("kv_metrics_" + std::to_string(::getpid()) + "_" + std::to_string(++n)))
                    .string();
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // File names in the folder, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::string path_;
};

// An axis-parallel rectangle patch with its class and core-area values.
struct Patch {
    double x, y, w, hgt;
    std::string cls;
    double patchArea = 0, coreArea = 0;
};

// The five patches of the hand-checked fixture, in object-id order: class
// "a" has 10x10, 2x2 and 4x24 (areas 100, 4, 96; perimeters 40, 8, 56),
// class "b" a 1x100 strip and a 20x5 rectangle (areas 100, 100; perimeters
// 202, 50). Patch_Area repeats on consecutive rows as the cores of one patch do.
inline std::vector<Patch> handFixture() {
    return {
        {0, 0, 10, 10, "a", 100, 60},
        {20, 0, 2, 2, "a", 100, 60},
        {30, 0, 1, 100, "b", 200, 20},
        {40, 0, 4, 24, "a", 96, 40},
        {50, 0, 20, 5, "b", 96, 40},
    };
}

// Writes NAME.shp: fields CLS (text), CODE (short: 1 for "a", 2 for "b", ...),
// EXTRA (a field the run trims) and, when withCores, Patch_Area and Core_Area.
inline h::FeatureClassPtr writePatches(const std::string& folder, const std::string& name,
                                       const std::vector<Patch>& patches, bool withCores = true) {
    auto ws = h::ShapefileWorkspace::open(folder);
    std::vector<h::FieldDef> fields = {{"CLS", h::FieldString, 16, 0, 0},
                                       {"CODE", h::FieldSmallInteger, 0, 4, 0},
                                       {"EXTRA", h::FieldDouble, 0, 12, 3}};
    if (withCores) {
        fields.push_back({"Patch_Area", h::FieldDouble, 0, 20, 5});
        fields.push_back({"Core_Area", h::FieldDouble, 0, 20, 5});
    }
    auto fc = ws.createFeatureClass(name, fields, h::ShapeType::Polygon);
    for (const Patch& p : patches) {
        auto row = fc->createFeature();
        row->setShape(h::Geometry::polygon({{{p.x, p.y}, {p.x, p.y + p.hgt}, {p.x + p.w, p.y + p.hgt}, {p.x + p.w, p.y}}}));
        row->setValue("CLS", p.cls);
        row->setValue("CODE", static_cast<int32_t>(p.cls.empty() ? 0 : p.cls[0] - 'a' + 1));
        row->setValue("EXTRA", 1.5);
        if (withCores) {
            row->setValue("Patch_Area", p.patchArea);
            row->setValue("Core_Area", p.coreArea);
        }
        row->store();
    }
    fc->flush();
    return fc;
}

// One row of a table: field name to value.
using TableRow = std::map<std::string, h::Value>;

inline std::vector<TableRow> readRows(const std::string& dbfPath) {
    auto table = h::Table::open(dbfPath);
    std::vector<TableRow> rows;
    auto cursor = table->search(nullptr, false);
    while (auto r = cursor.next()) {
        TableRow row;
        for (int32_t i = 0; i < r->fields().count(); ++i) row[r->fields().field(i).name] = r->value(i);
        rows.push_back(std::move(row));
    }
    return rows;
}

inline std::vector<std::string> fieldNames(const std::string& dbfPath) { return h::Table::open(dbfPath)->fields().names(); }

inline double num(const TableRow& row, const std::string& field) {
    auto it = row.find(field);
    if (it == row.end()) ADD_FAILURE() << "no field " << field;
    return it == row.end() ? -999 : h::toDouble(it->second);
}
inline std::string text(const TableRow& row, const std::string& field) {
    auto it = row.find(field);
    return it == row.end() ? "<missing>" : h::toText(it->second);
}

// A test with a scripted UI, a document whose focused map is in metres, and
// a folder for data and results.
class MetricsTest : public ::testing::Test {
protected:
    TestUi ui;
    Folder data;
    Folder out;
    h::MapPtr map() { return h::Application::instance().document()->focusMap(); }
    void SetUp() override { map()->setMapUnits(h::UnitMeters); }

    h::FeatureLayerPtr addLayer(const std::string& shpPath) {
        auto layer = h::openFeatureLayer(shpPath);
        map()->addLayer(layer);
        return layer;
    }
    h::FeatureLayerPtr addHandFixture(const std::string& name = "patches", bool withCores = true) {
        writePatches(data.path(), name, handFixture(), withCores);
        return addLayer(data.file(name + ".shp"));
    }
    // The message boxes shown so far, as "title: text".
    std::vector<std::string> messages() const {
        std::vector<std::string> m;
        for (const auto& b : ui.driver.messages) m.push_back(b.title + ": " + b.text);
        return m;
    }
};

}  // namespace kvtest
