// The hexagon builder `hex`, run with the command line that the Make
// Hexagon Regions command writes, on small shapefiles in a fresh folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "Fixture.h"
#include "hex/Builder.h"
#include "hex/Tessellation.h"
#include "host/System.h"
#include "host/data/Table.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

const std::string kUtmPrj =
    "PROJCS[\"NAD_1983_UTM_Zone_17N\",GEOGCS[\"GCS_North_American_1983\",DATUM[\"D_North_American_1983\","
    "SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
    "PARAMETER[\"Central_Meridian\",-81.0],PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0.0],";
const std::string kMetres = kUtmPrj + "UNIT[\"Meter\",1.0]]";
const std::string kFeet = kUtmPrj + "UNIT[\"Foot\",0.3048]]";

struct HexRun : DataFixture {
    // A shapefile whose extent is the box; its features are two rectangles
    // that together span it (so the extent is not one feature's).
    std::string input(const std::string& name, double x0, double y0, double x1, double y1,
                      const std::string& prj = kMetres) {
        double xm = (x0 + x1) / 2;
        auto rect = [](double a, double b, double c, double d) {
            return std::vector<h::Point>{{a, b}, {a, d}, {c, d}, {c, b}, {a, b}};
        };
        polygons(name, {{rect(x0, y0, xm, (y0 + y1) / 2)}, {rect(xm, (y0 + y1) / 2, x1, y1)}}, {"a", "b"});
        if (!prj.empty()) std::ofstream(dir / (name + ".prj")) << prj;
        return (dir / (name + ".shp")).string();
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    // Runs the builder as the command does; returns the log's text.
    std::string run(const std::string& inputArg, const std::string& output, const std::string& area,
                    const std::string& offset) {
        std::string log = path("error.log");
        std::error_code ec;
        sfs::remove(log, ec);
        h::Shell().Run("\"" + std::string(KV_HEX_PROGRAM) + "\" \"" + inputArg + "\" \"" + output + "\" \"" + log +
                           "\" " + area + " " + offset,
                       1, true);
        return h::fs::FileExists(log) ? h::fs::ReadAll(log) : "(no log)";
    }
};

struct Hexagon {
    int64_t id;
    h::Geometry shape;
};

std::vector<Hexagon> hexagons(const std::string& shp) {
    auto fc = std::dynamic_pointer_cast<h::FeatureClass>(h::Table::open(shp));
    std::vector<Hexagon> out;
    auto cursor = fc->search(nullptr, false);
    while (auto row = cursor.next()) out.push_back({static_cast<int64_t>(h::toDouble(row->value("ID"))), row->shape()});
    return out;
}

// A corner's coordinates, bit for bit.
std::pair<uint64_t, uint64_t> bits(const h::Point& p) {
    uint64_t x, y;
    std::memcpy(&x, &p.x, 8);
    std::memcpy(&y, &p.y, 8);
    return {x, y};
}

std::string bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(HexProgram, HexagonsOfTheAreaTileTheExtentEdgeToEdge) {
    struct Case {
        const char* name;
        double hectares;
        const char* offset;
        const std::string* prj;
        double squareUnitsPerHectare;
    } cases[] = {
        {"centred", 10, "0.5", &kMetres, 10000},
        {"origin", 7.5, "0", &kMetres, 10000},
        {"fraction", 3, "0.8", &kMetres, 10000},
        // Coordinates in feet: a hectare is 10000 / 0.3048^2 square feet.
        {"feet", 1, "0.5", &kFeet, 10000 / (0.3048 * 0.3048)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HexRun fx;
        const double x0 = 601234.5, y0 = 5049876.25, x1 = x0 + 1730, y1 = y0 + 910;
        std::string in = fx.input("stands", x0, y0, x1, y1, *c.prj);
        std::string log = fx.run(in, fx.path("hex"), std::to_string(c.hectares), c.offset);
        ASSERT_EQ(log.substr(0, 1), "7") << log;
        EXPECT_EQ(bytes(fx.path("hex.prj")), *c.prj);

        auto hexes = hexagons(fx.path("hex.shp"));
        ASSERT_GT(hexes.size(), 10u);
        const double area = c.hectares * c.squareUnitsPerHectare;
        h::Geometry all;
        double sum = 0;
        std::map<std::pair<std::pair<uint64_t, uint64_t>, std::pair<uint64_t, uint64_t>>, int> edges;
        for (size_t i = 0; i < hexes.size(); ++i) {
            const auto& hx = hexes[i];
            EXPECT_EQ(hx.id, static_cast<int64_t>(i + 1));
            EXPECT_NEAR(hx.shape.area(), area, area * 1e-9);
            EXPECT_TRUE(hx.shape.isValid());
            auto pts = hx.shape.points();
            ASSERT_EQ(pts.size(), 7u);
            for (size_t k = 0; k + 1 < pts.size(); ++k) {
                auto a = bits(pts[k]), b = bits(pts[k + 1]);
                ++edges[std::minmax(a, b)];
            }
            sum += hx.shape.area();
            all = all.isEmpty() ? hx.shape : all.unionWith(hx.shape);
        }
        // Every edge belongs to one hexagon or to two, with the same corners.
        size_t shared = 0;
        for (const auto& [edge, n] : edges) {
            EXPECT_LE(n, 2);
            shared += n == 2;
        }
        EXPECT_GT(shared, hexes.size());
        // No overlaps: the union is as large as the parts. No gaps: the union
        // is one polygon without holes that holds the whole extent.
        EXPECT_NEAR(all.area(), sum, sum * 1e-9);
        EXPECT_EQ(all.interiorRings().size(), 0u);
        auto box = h::Geometry::polygon({{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}}});
        EXPECT_LT(box.difference(all).area(), area * 1e-9);
        // Each hexagon reaches into the extent.
        for (const auto& hx : hexes) EXPECT_GT(hx.shape.intersection(box).area(), 0);
    }
}

TEST(HexProgram, OffsetShiftsTheGridByAFractionOfItsRepeat) {
    HexRun fx;
    const double x0 = 1000, y0 = 2000;
    std::string in = fx.input("stands", x0, y0, x0 + 900, y0 + 700, "");
    auto first = [&](const std::string& out, const char* offset) {
        EXPECT_EQ(fx.run(in, fx.path(out), "4", offset).substr(0, 1), "7");
        return bytes(fx.path(out + ".shp"));
    };
    // With offset 0 a hexagon is centred on the extent's lower-left corner.
    first("zero", "0");
    bool centred = false;
    for (const auto& hx : hexagons(fx.path("zero.shp"))) {
        auto c = hx.shape.centroid();
        centred = centred || (std::abs(c.x - x0) < 1e-6 && std::abs(c.y - y0) < 1e-6);
    }
    EXPECT_TRUE(centred);
    // Only the fraction counts.
    EXPECT_EQ(first("one", "1.0"), bytes(fx.path("zero.shp")));
    EXPECT_EQ(first("minus", "-0.25"), first("three", "0.75"));
    EXPECT_NE(first("half", "0.5"), bytes(fx.path("zero.shp")));
    EXPECT_FALSE(h::fs::FileExists(fx.path("zero.prj")));   // the input had none
}

TEST(HexProgram, TheInputArgumentIsReadBackFromItsRewrittenForm) {
    // The command writes ".s" (or, when the path has one, every ".S") as "_Z".
    struct Case {
        const char* folder;
        const char* name;
    } cases[] = {{"plain", "forest"}, {"My.Stuff", "forest"}, {"a.set", "my_Zone.SHP_x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        HexRun fx;
        sfs::create_directories(fx.dir / c.folder);
        fx.input("source", 0, 0, 1000, 1000);
        std::string in = (fx.dir / c.folder / c.name).string() + ".shp";
        for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
            sfs::rename(fx.path(std::string("source") + ext), (fx.dir / c.folder / c.name).string() + ext);
        std::string arg = in;
        const std::string from = arg.find(".S") != std::string::npos ? ".S" : ".s";
        for (size_t i = arg.find(from); i != std::string::npos; i = arg.find(from, i)) arg.replace(i, 2, "_Z");
        EXPECT_EQ(fx.run(arg, fx.path("hex"), "10", "0.5").substr(0, 1), "7") << arg;
        EXPECT_EQ(fx.run(in, fx.path("hex2"), "10", "0.5").substr(0, 1), "7") << in;
    }
}

TEST(HexProgram, FailuresAreNamedByTheirCodeAndLeaveNoOutput) {
    struct Case {
        const char* name;
        const char* area;
        const char* present;   // a file in the way of the output
        char code;
    } cases[] = {
        {"missing input", "10", nullptr, '0'},
        {"not a shapefile", "10", nullptr, '0'},
        {"larger than the extent", "71", nullptr, '1'},   // the extent holds 70 ha
        {"empty input", "10", nullptr, '1'},
        {"output there", "10", "hex.shp", '2'},
        {"output table there", "10", "hex.dbf", '3'},
        {"output index there", "10", "hex.shx", '4'},
        {"zero area", "0", nullptr, '5'},
        {"negative area", "-5", nullptr, '5'},
        {"too many", "0.000001", nullptr, '5'},   // 0.01 m2 over 70 ha
        {"no number", "ten", nullptr, '8'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HexRun fx;
        std::string in = fx.input("stands", 0, 0, 1000, 700);
        if (c.name == std::string("missing input")) in = fx.path("nothing.shp");
        if (c.name == std::string("not a shapefile")) {
            in = fx.path("text.shp");
            std::ofstream(in) << "not a shapefile";
        }
        if (c.name == std::string("empty input")) {
            fx.workspace().createFeatureClass("empty", {{"ID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon);
            in = fx.path("empty.shp");
        }
        if (c.present) std::ofstream(fx.path(c.present)) << "keep";
        std::string log = fx.run(in, fx.path("hex"), c.area, "0.5");
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0], c.code) << log;
        for (const char* ext : {".shp", ".shx", ".dbf"}) {
            std::string f = fx.path(std::string("hex") + ext);
            if (c.present && f == fx.path(c.present))
                EXPECT_EQ(bytes(f), "keep");   // never replaced
            else
                EXPECT_FALSE(h::fs::FileExists(f)) << f;
        }
    }
}

TEST(HexProgram, CountingStopsNearTheLimitWithoutWalkingTheGrid) {
    // Far past the limit the answer comes from the bound; near it, from
    // counting. Both sides of the limit, on a grid of known size.
    const hex::Extent box{0, 0, 100000, 100000};
    EXPECT_EQ(hex::checkTessellation(box, 1e-12, 0.5), hex::Code::TooMany);
    hex::HexGrid grid(box, 1000, 0.5);
    int64_t n = grid.count(hex::kMaxHexagons);
    EXPECT_GT(n, 10'000'000);   // 1e10 / 1000, plus the rim
    EXPECT_EQ(hex::checkTessellation(box, 1000, 0.5), hex::Code::TooMany);
    EXPECT_EQ(hex::checkTessellation(box, 1001, 0.5), hex::Code::Success);
}
