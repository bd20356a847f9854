// Permanent rasters, raster workspaces and the analysis settings.
#include <gtest/gtest.h>

#include <filesystem>

#include "FaultInjection.h"
#include "RasterFixtures.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/System.h"
#include "host/data/RasterLayer.h"
#include "raster/Modules/modMisc.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;
namespace stdfs = std::filesystem;
using korvane::test::GridSpec;
using korvane::test::TempFolder;
using korvane::test::writeGrid;

namespace {

h::RasterDatasetPtr classGrid(const TempFolder& tmp, const std::string& name, std::vector<double> cells = {}) {
    GridSpec s;
    s.cells = cells.empty() ? std::vector<double>{1, 1, 2, 2, 3, 3} : cells;
    auto r = h::openRasterLayer(writeGrid(tmp.file(name), s))->raster();
    r->attributeTable()->addField({"FORTYPE", h::FieldString, 12, 0, 0});
    return r;
}

std::vector<std::string> listing(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : stdfs::recursive_directory_iterator(folder))
        names.push_back(stdfs::relative(e.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

int64_t rows(const h::RasterDatasetPtr& r) { return r->attributeTable() ? r->attributeTable()->rowCount() : -1; }

}  // namespace

TEST(MakePermanentRaster, GridTiffAndImagineByTheNamesExtension) {
    TestUi ui;
    TempFolder tmp;
    auto src = classGrid(tmp, "src.tif");
    stdfs::create_directory(tmp.file("out"));
    for (const char* name : {"clip1", "clip1.tif", "clip1.img"}) {
        ASSERT_TRUE(kv::MakePermanentRaster(src, tmp.file("out"), name)) << name;
        auto saved = kv::OpenRasterDataset(tmp.file("out"), name);
        ASSERT_TRUE(saved) << name;
        EXPECT_EQ(saved->width(), 3);
        EXPECT_EQ(saved->cell(2, 1), 3);
        EXPECT_EQ(rows(saved), 3) << name;
        EXPECT_GE(saved->attributeTable()->findField("FORTYPE"), 0) << name;
    }
    EXPECT_EQ(kv::OpenRasterDataset(tmp.file("out"), "clip1")->format(), h::RasterFormat::Grid);
    EXPECT_EQ(kv::OpenRasterDataset(tmp.file("out"), "clip1.img")->format(), h::RasterFormat::Imagine);
    EXPECT_EQ(listing(tmp.file("out")),
              (std::vector<std::string>{"clip1", "clip1.img", "clip1.img.vat.cpg", "clip1.img.vat.dbf", "clip1.tif",
                                        "clip1.tif.aux.xml", "clip1.tif.vat.cpg", "clip1.tif.vat.dbf",
                                        "clip1/clip1.tif", "clip1/clip1.tif.aux.xml", "clip1/clip1.tif.vat.cpg",
                                        "clip1/clip1.tif.vat.dbf"}));
    // Other software reads the tables too.
    EXPECT_EQ(korvane::test::readGdalRat(tmp.file("out/clip1.tif")).size(), 3u);
    EXPECT_EQ(korvane::test::readGdalRat(tmp.file("out/clip1.img")).size(), 3u);
    EXPECT_TRUE(ui.driver.messages.empty());
}

TEST(MakePermanentRaster, RefusedNamesTouchNothing) {
    TestUi ui;
    TempFolder tmp;
    auto src = classGrid(tmp, "src.tif");
    stdfs::create_directory(tmp.file("out"));
    korvane::test::writeText(tmp.file("out/clip1.TIF.aux"), "stale");
    korvane::test::writeText(tmp.file("out/clip.old.tif.aux"), "stale");
    for (const char* name : {"clip1.TIF", "clip1.tiff", "clip.old.tif", "a.IMG"}) {
        EXPECT_FALSE(kv::MakePermanentRaster(src, tmp.file("out"), name)) << name;
        ASSERT_FALSE(ui.driver.messages.empty());
        EXPECT_EQ(ui.driver.messages.back().text, "Make Permanent Raster: Unsupported file extension");
    }
    EXPECT_EQ(listing(tmp.file("out")), (std::vector<std::string>{"clip.old.tif.aux", "clip1.TIF.aux"}));
    size_t shown = ui.driver.messages.size();
    EXPECT_FALSE(kv::MakePermanentRaster(src, "", "clip1"));
    EXPECT_FALSE(kv::MakePermanentRaster(src, tmp.file("out"), ""));
    EXPECT_EQ(ui.driver.messages.size(), shown);
}

TEST(MakePermanentRaster, ReplacesADatasetWithoutItsOldSidecarsAndKeepsItOnFailure) {
    TestUi ui;
    TempFolder tmp;
    auto src = classGrid(tmp, "src.tif", {5, 6, 7, 8, 9, 10});
    stdfs::create_directory(tmp.file("out"));
    ASSERT_TRUE(kv::MakePermanentRaster(classGrid(tmp, "old.tif"), tmp.file("out"), "clip1.tif"));
    ASSERT_TRUE(kv::MakePermanentRaster(classGrid(tmp, "oldgrid.tif"), tmp.file("out"), "clip1"));
    korvane::test::writeText(tmp.file("out/clip1.tif.aux"), "stale");
    auto oldTif = korvane::test::readBytes(tmp.file("out/clip1.tif"));
    auto oldGrid = korvane::test::readBytes(tmp.file("out/clip1/clip1.tif"));

    // Failures while swapping in: the old dataset stays, whole, with its table.
    for (const char* ending : {".tif", ".dbf"}) {
        h::testing::failAt(h::testing::Step::Rename, EIO, ending);
        EXPECT_FALSE(kv::MakePermanentRaster(src, tmp.file("out"), "clip1.tif")) << ending;
        h::testing::clearFaults();
        for (auto& e : stdfs::directory_iterator(tmp.file("out"))) EXPECT_FALSE(h::isKorvaneTemporary(e.path())) << ending << e.path() << ui.driver.messages.back().text;
        EXPECT_EQ(ui.driver.messages.back().text.rfind("Make Permanent Raster:", 0), 0u);
        EXPECT_EQ(korvane::test::readBytes(tmp.file("out/clip1.tif")), oldTif) << ending;
        EXPECT_EQ(rows(h::RasterDataset::open(tmp.file("out/clip1.tif"))), 3);
    }
    korvane::test::setReadOnly(tmp.file("out/clip1"), true);
    EXPECT_FALSE(kv::MakePermanentRaster(src, tmp.file("out"), "clip1"));
    korvane::test::setReadOnly(tmp.file("out/clip1"), false);
    EXPECT_EQ(korvane::test::readBytes(tmp.file("out/clip1/clip1.tif")), oldGrid);
    for (auto& e : stdfs::directory_iterator(tmp.file("out"))) EXPECT_FALSE(h::isKorvaneTemporary(e.path())) << e.path();
    // An immutable file in the GRID folder: refused as a read-only one is,
    // before anything is written, and no copy of the old folder stays behind.
    {
        korvane::test::ImmutableFile locked(tmp.file("out/clip1/clip1.tif"));
        if (locked.active()) {
            EXPECT_FALSE(kv::MakePermanentRaster(src, tmp.file("out"), "clip1"));
            EXPECT_NE(ui.driver.messages.back().text.find("clip1"), std::string::npos);
        }
    }
    EXPECT_EQ(korvane::test::readBytes(tmp.file("out/clip1/clip1.tif")), oldGrid);
    for (auto& e : stdfs::directory_iterator(tmp.file("out"))) EXPECT_FALSE(h::isKorvaneTemporary(e.path())) << e.path();

    // Replaced: the new cells and table; a float raster leaves no old table behind.
    ASSERT_TRUE(kv::MakePermanentRaster(src, tmp.file("out"), "clip1"));
    EXPECT_EQ(kv::OpenRasterDataset(tmp.file("out"), "clip1")->cell(0, 0), 5);
    EXPECT_EQ(rows(kv::OpenRasterDataset(tmp.file("out"), "clip1")), 6);
    GridSpec f;
    f.type = GDT_Float32;
    f.cells = {0.5, 1, 1, 1, 1, 1};
    auto floating = h::RasterDataset::open(writeGrid(tmp.file("f.tif"), f));
    ASSERT_TRUE(kv::MakePermanentRaster(floating, tmp.file("out"), "clip1.tif"));
    EXPECT_FALSE(kv::OpenRasterDataset(tmp.file("out"), "clip1.tif")->hasAttributeTable());
    for (const char* gone : {"clip1.tif.aux", "clip1.tif.aux.xml", "clip1.tif.vat.dbf", "clip1.tif.vat.cpg"})
        EXPECT_FALSE(stdfs::exists(tmp.file(std::string("out/") + gone))) << gone;
    EXPECT_TRUE(korvane::test::readGdalRat(tmp.file("out/clip1.tif")).empty());
}

TEST(RasterWorkspaces, OpenedOrCreatedAndDatasetsOpenedByName) {
    TestUi ui;
    TempFolder tmp;
    auto src = classGrid(tmp, "src.tif");
    // A folder that is not there yet is created under its parent.
    ASSERT_TRUE(kv::MakePermanentRaster(src, tmp.file("new"), "g.tif"));
    EXPECT_TRUE(stdfs::is_regular_file(tmp.file("new/g.tif")));
    EXPECT_TRUE(kv::OpenRasterDataset(tmp.file("made"), "none.tif") == nullptr);
    EXPECT_TRUE(stdfs::is_directory(tmp.file("made")));
    EXPECT_EQ(ui.driver.messages.back().text.rfind("Open Raster Dataset:", 0), 0u);

    EXPECT_FALSE(kv::OpenOrCreateRasterWorkspace("bare-name-kv"));
    size_t shown = ui.driver.messages.size();
    EXPECT_FALSE(kv::OpenRasterDataset("bare-name-kv", "g.tif"));
    EXPECT_EQ(ui.driver.messages.size(), shown + 1);
    EXPECT_FALSE(kv::OpenRasterDataset("", "g.tif"));
    EXPECT_EQ(ui.driver.messages.size(), shown + 1);

    auto ws = h::RasterWorkspace::open(tmp.file("new"));
    kv::MakePermanentRaster(src, tmp.file("new"), "grid1");
    EXPECT_EQ(ws.datasetNames(), (std::vector<std::string>{"g.tif", "grid1"}));
    auto copy = ws.copy(*ws.openRasterDataset("grid1"), "grid2");
    EXPECT_EQ(copy->dataPath(), tmp.file("new/grid2/grid2.tif"));
    EXPECT_EQ(rows(copy), 3);
    ws.copy(*ws.openRasterDataset("g.tif"), "h.tif");
    EXPECT_EQ(rows(ws.openRasterDataset("h.tif")), 3);
    EXPECT_TRUE(ws.canDelete("h.tif"));
    ws.deleteDataset("h.tif");
    ws.deleteDataset("grid2");
    EXPECT_EQ(listing(tmp.file("new")).size(), 9u);   // g.tif and its three sidecars, grid1 and its four files
    EXPECT_THROW(ws.deleteDataset("h.tif"), h::Failure);
}

TEST(SetSpatialAnalysisSettings, CopiesWhatIsSetAndReportsFailure) {
    TestUi ui;
    TempFolder tmp;
    auto src = classGrid(tmp, "src.tif");
    h::RasterAnalysisEnvironment source, target;
    target.outWorkspace = "/somewhere";
    target.setCellSize(h::EnvValue, 25);
    target.mask = src;
    source.defaultOutputRasterPrefix = "r_";
    ASSERT_TRUE(kv::SetSpatialAnalysisSettings(&target, &source));
    EXPECT_EQ(target.outWorkspace, "");          // cleared by a source without one
    int32_t kind = 0;
    double size = 0;
    target.getCellSize(kind, size);
    EXPECT_EQ(size, 25);                         // a source cell size of 0 leaves it
    EXPECT_TRUE(h::isSet(target.mask));          // no source mask leaves it
    EXPECT_EQ(target.defaultOutputRasterPrefix, "r_");

    source.setCellSizeFrom(*src);
    source.setExtentFrom(*src);
    source.verifyType = true;
    ASSERT_TRUE(kv::SetSpatialAnalysisSettings(&target, &source));
    target.getCellSize(kind, size);
    EXPECT_EQ(size, 10);
    h::Envelope e;
    EXPECT_TRUE(target.getExtent(kind, e));
    EXPECT_EQ(e.xmin, 600000);
    EXPECT_TRUE(target.verifyType);

    EXPECT_FALSE(kv::SetSpatialAnalysisSettings(nullptr, &source));
    EXPECT_EQ(ui.driver.messages.back().text.rfind("Set Spatial Analysis Settings: ", 0), 0u);
    EXPECT_TRUE(kv::SetSpatialAnalysisSettings(&target, nullptr));
}

TEST(AnalysisEnvironment, OutputsSnapToTheLatticeTheyDeriveFrom) {
    TempFolder tmp;
    auto src = classGrid(tmp, "src.tif");   // 3 x 2 cells of 10 m from (600000, 5055000)
    h::RasterAnalysisEnvironment env;
    h::RasterLattice same = env.outputLattice(*src);
    EXPECT_EQ(same.columns, 3);
    EXPECT_EQ(same.rows, 2);
    EXPECT_EQ(same.xmin, 600000);
    h::Envelope want{600003, 5054981, 600017, 5054996, false};
    env.setExtent(h::EnvValue, want);
    h::RasterLattice cut = env.outputLattice(*src);
    EXPECT_EQ(cut.xmin, 600000);
    EXPECT_EQ(cut.ymax, 5055000);
    EXPECT_EQ(cut.columns, 2);
    EXPECT_EQ(cut.rows, 2);
    env.setCellSize(h::EnvValue, 5);
    h::RasterLattice fine = env.outputLattice(*src);
    EXPECT_EQ(fine.xmin, 600000);
    EXPECT_EQ(fine.columns, 4);
    EXPECT_EQ(fine.extent().xmax, 600020);
    EXPECT_THROW(env.setCellSize(h::EnvValue, 0), h::Failure);
}
