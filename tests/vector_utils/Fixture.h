#pragma once
// Small shapefiles in a fresh folder, and a map to put them on.
#include <filesystem>

#include "host/Application.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "TestUi.h"

struct DataFixture : TestUi {
    std::filesystem::path dir;
    DataFixture() {
        dir = std::filesystem::temp_directory_path() /
              ("kv-utils-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~DataFixture() {
        std::error_code ec;
        for (auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
            std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(dir, ec);
    }
    static int& counter() {
        static int c = 0;
        return c;
    }
    korvane::host::ShapefileWorkspace workspace() const { return korvane::host::ShapefileWorkspace::open(dir.string()); }
    korvane::host::MapPtr map() const { return korvane::host::Application::instance().document()->focusMap(); }

    // Polygons (each a list of rings) with a CLASS text field and an AREA double.
    korvane::host::FeatureLayerPtr polygons(const std::string& name,
                                            const std::vector<std::vector<std::vector<korvane::host::Point>>>& shapes,
                                            const std::vector<std::string>& classes) {
        namespace h = korvane::host;
        auto fc = workspace().createFeatureClass(
            name, {{"WEIGHT", h::FieldDouble, 0, 12, 3}, {"CLASS", h::FieldString, 16, 0, 0}}, h::ShapeType::Polygon);
        for (size_t i = 0; i < shapes.size(); ++i) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::polygon(shapes[i]));
            f->setValue("CLASS", classes[i]);
            f->setValue("WEIGHT", 1.0);
            f->store();
        }
        fc->flush();
        return std::make_shared<h::FeatureLayer>(fc);
    }

    static std::vector<korvane::host::Point> square(double x, double y, double side) {
        return {{x, y}, {x, y + side}, {x + side, y + side}, {x + side, y}, {x, y}};
    }
};
