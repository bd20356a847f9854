#pragma once
// Hand-made polygon layers for the toolbox's tools: squares with and
// without holes, touching and overlapping, a self-crossing bow-tie.
#include <optional>

#include "Fixture.h"
#include "host/data/SpatialReference.h"
#include "host/toolbox/Toolbox.h"

namespace kvtest {

namespace h = korvane::host;
using Rings = std::vector<std::vector<h::Point>>;

struct ToolFixture : DataFixture {
    // The sample's coordinate system (UTM 17N), and another one.
    static h::SpatialReference utm() { return *h::readPrj(KV_SAMPLE_DIR "/landscape.shp"); }
    static h::SpatialReference geographic() {
        return h::SpatialReference::fromWkt(
            "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
            "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
    }

    // A polygon layer with a text field CLASS and a double WEIGHT, in the
    // given coordinate system (UTM when none is given).
    h::FeatureLayerPtr layer(const std::string& name, const std::vector<Rings>& shapes,
                             const std::vector<std::string>& classes, const std::vector<double>& weights = {},
                             std::optional<h::SpatialReference> sr = std::nullopt) {
        h::SpatialReference s = sr ? *sr : utm();
        auto fc = workspace().createFeatureClass(
            name, {{"CLASS", h::FieldString, 16, 0, 0}, {"WEIGHT", h::FieldDouble, 0, 12, 3}}, h::ShapeType::Polygon, &s);
        for (size_t i = 0; i < shapes.size(); ++i) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::polygon(shapes[i]));
            f->setValue("CLASS", classes[i]);
            f->setValue("WEIGHT", weights.empty() ? 1.0 : weights[i]);
            f->store();
        }
        fc->flush();
        return std::make_shared<h::FeatureLayer>(fc);
    }

    static std::vector<h::Point> bowTie(double x, double y, double side) {
        return {{x, y}, {x + side, y + side}, {x + side, y}, {x, y + side}, {x, y}};
    }

    std::string path(const std::string& file) const { return (dir / file).string(); }
};

}  // namespace kvtest
