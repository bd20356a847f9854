// Coordinate systems from .prj files and the unit codes they give.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"

using namespace korvane::host;
using korvane::test::TempFolder;

namespace {

const char* kGeog =
    "GEOGCS[\"GCS_North_American_1983\",DATUM[\"D_North_American_1983\",SPHEROID[\"GRS_1980\",6378137.0,"
    "298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";

std::string projected(const std::string& unit) {
    return std::string("PROJCS[\"Test_Transverse_Mercator\",") + kGeog +
           ",PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],"
           "PARAMETER[\"False_Northing\",0.0],PARAMETER[\"Central_Meridian\",-123.0],"
           "PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0.0]," +
           unit + "]";
}

struct Case {
    const char* label;
    std::string prj;  // empty: no .prj file
    int32_t code;
};

TEST(SpatialReference, UnitCodesFromPrjFiles) {
    const Case cases[] = {
        {"metres", projected("UNIT[\"Meter\",1.0]"), 9},
        {"international feet", projected("UNIT[\"Foot\",0.3048]"), 3},
        {"US survey feet", projected("UNIT[\"Foot_US\",0.3048006096012192]"), 3},
        {"yards", projected("UNIT[\"Yard\",0.9144]"), 4},
        {"kilometres", projected("UNIT[\"Kilometer\",1000.0]"), 10},
        {"odd unit", projected("UNIT[\"Chain\",20.1168]"), 0},
        {"degrees", kGeog, 11},
        {"none", "", 0},
    };
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "layer" + std::to_string(n++);
        auto fc = ws.createFeatureClass(name, {}, ShapeType::Polygon);
        fc.reset();
        if (!c.prj.empty()) korvane::test::writeText(tmp.file(name + ".prj"), c.prj);
        auto layer = openFeatureLayer(tmp.file(name + ".shp"));
        EXPECT_EQ(layerUnits(*layer), c.code) << c.label;
        EXPECT_EQ(unitCodeOfDataset(tmp.file(name + ".shp")), c.code) << c.label;
        EXPECT_EQ(layer->featureClass()->spatialReference().has_value(), !c.prj.empty()) << c.label;
    }
}

TEST(SpatialReference, WrittenWithNewFeatureClasses) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    SpatialReference sr = SpatialReference::fromWkt(projected("UNIT[\"Foot_US\",0.3048006096012192]"));
    EXPECT_FALSE(sr.geographic);
    EXPECT_NEAR(sr.metresPerUnit, 0.3048006096012192, 1e-15);
    auto fc = ws.createFeatureClass("ft", {}, ShapeType::Polyline, &sr);
    EXPECT_EQ(fc->units(), 3);
    EXPECT_THROW(SpatialReference::fromWkt("not a coordinate system"), Failure);
    korvane::test::writeText(tmp.file("bad.prj"), "garbage");
    EXPECT_THROW(readPrj(tmp.file("bad.shp")), Failure);
    EXPECT_FALSE(readPrj(tmp.file("nothing.shp")).has_value());
}

}  // namespace
