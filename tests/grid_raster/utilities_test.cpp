// The raster layer utilities and the patch-theme command's map events.
#include <gtest/gtest.h>

#include <filesystem>

#include "RasterFixtures.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"
#include "host/data/Workspace.h"
#include "raster/Classes/GridCommand.h"
#include "raster/Classes/clsG_AboutKVG.h"
#include "raster/Classes/clsGridCreatePatch.h"
#include "raster/Modules/UtilModule.h"
#include "raster/Modules/modMisc.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;
using korvane::test::GridSpec;
using korvane::test::TempFolder;
using korvane::test::writeGrid;

namespace {

h::RasterLayerPtr gridLayer(const TempFolder& tmp, const std::string& name, GridSpec s = {}) {
    if (s.cells.empty()) s.cells = {1, 1, 2, 2, 3, 3};
    return h::openRasterLayer(writeGrid(tmp.file(name), s));
}

h::FeatureLayerPtr polygonLayer(const TempFolder& tmp) {
    auto ws = h::ShapefileWorkspace::open(tmp.path());
    auto fc = ws.createFeatureClass("patches", {{"CODE", h::FieldInteger, 0, 5, 0}, {"AREA", h::FieldDouble, 0, 12, 2}},
                                    h::ShapeType::Polygon);
    return std::make_shared<h::FeatureLayer>(fc);
}

// A form holding one combo box, for the field lists.
class ComboForm : public h::Form {
public:
    ComboForm() : h::Form("ComboForm") {}
    h::ComboBox& box() { return get<h::ComboBox>("cbo"); }

protected:
    void design() override { add<h::ComboBox>("cbo"); }
};

}  // namespace

TEST(IsUsableIntegerGrid, IntegerFloatReadOnlyClassFieldAndOtherLayers) {
    TestUi ui;
    TempFolder tmp;
    auto integer = gridLayer(tmp, "int.tif");
    EXPECT_TRUE(kv::IsUsableIntegerGrid(integer));

    GridSpec f;
    f.type = GDT_Float32;
    f.cells = {0.5, 1, 2, 3, 4, 5};
    auto floating = gridLayer(tmp, "float.tif", f);
    EXPECT_FALSE(kv::IsUsableIntegerGrid(floating));
    EXPECT_FALSE(kv::GetRasterTable(floating->raster()));

    // A read-only folder: the table is kept out of it, the grid stays usable.
    std::filesystem::create_directory(tmp.file("ro"));
    writeGrid(tmp.file("ro/int.tif"), GridSpec{.cells = {4, 4, 5, 5, 6, 6}});
    korvane::test::setReadOnly(tmp.file("ro"), true);
    auto readOnly = h::openRasterLayer(tmp.file("ro/int.tif"));
    korvane::test::setReadOnly(tmp.file("ro"), false);
    EXPECT_TRUE(kv::IsUsableIntegerGrid(readOnly));
    EXPECT_FALSE(std::filesystem::exists(tmp.file("ro/int.tif.vat.dbf")));

    // A class field beside Value; then a table whose value field is a double.
    h::TablePtr t = kv::GetRasterTable(integer->raster());
    t->addField({"FORTYPE", h::FieldString, 16, 0, 0});
    EXPECT_TRUE(kv::IsUsableIntegerGrid(integer));

    auto other = gridLayer(tmp, "other.tif");
    h::TablePtr ot = other->raster()->attributeTable();
    ot->deleteField("Value");
    EXPECT_FALSE(kv::IsUsableIntegerGrid(other));   // no value field: False, silently
    ot->addField({"VALUE", h::FieldDouble, 0, 12, 3});
    EXPECT_FALSE(kv::IsUsableIntegerGrid(other));

    EXPECT_FALSE(kv::IsUsableIntegerGrid(polygonLayer(tmp)));
    EXPECT_FALSE(kv::IsUsableIntegerGrid(std::make_shared<h::GroupLayer>("group")));
    EXPECT_FALSE(kv::IsUsableIntegerGrid(nullptr));
    EXPECT_TRUE(ui.driver.messages.empty());
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST(IsRasterLayerSelected, OnlyARasterLayerSelectedInAMapWithLayers) {
    TestUi ui;
    TempFolder tmp;
    auto& app = h::Application::instance();
    auto doc = app.document();
    auto grid = gridLayer(tmp, "g.tif");
    EXPECT_FALSE(kv::IsRasterLayerSelected(&app));
    doc->setSelectedLayer(grid);
    EXPECT_FALSE(kv::IsRasterLayerSelected(&app));  // the map is empty
    doc->focusMap()->addLayer(grid);
    EXPECT_TRUE(kv::IsRasterLayerSelected(&app));
    auto poly = polygonLayer(tmp);
    doc->focusMap()->addLayer(poly);
    doc->setSelectedLayer(poly);
    EXPECT_FALSE(kv::IsRasterLayerSelected(&app));
    doc->setSelectedLayer(nullptr);
    EXPECT_FALSE(kv::IsRasterLayerSelected(&app));
}

TEST(PopulateFieldListBox, RasterAndShapefileFieldsWithoutIdsAndShape) {
    TestUi ui;
    TempFolder tmp;
    auto grid = gridLayer(tmp, "g.tif");
    grid->raster()->attributeTable()->addField({"CLASS", h::FieldString, 10, 0, 0});
    ComboForm form;
    kv::PopulateFieldListBox(grid, form.box());
    EXPECT_EQ(form.box().items(), (std::vector<std::string>{"Value", "Count", "CLASS"}));
    kv::PopulateFieldListBox(polygonLayer(tmp), form.box());
    EXPECT_EQ(form.box().items(), (std::vector<std::string>{"CODE", "AREA"}));
    kv::PopulateFieldListBox(nullptr, form.box());
    ASSERT_EQ(ui.driver.messages.size(), 1u);
    EXPECT_EQ(ui.driver.messages[0].text, "PopulateFieldListBox cannot find layer ''");
    EXPECT_EQ(ui.driver.messages[0].title, "Layer Not Found");
    EXPECT_EQ(form.box().items(), (std::vector<std::string>{"CODE", "AREA"}));
    // A float grid has no fields.
    GridSpec f;
    f.type = GDT_Float64;
    kv::PopulateFieldListBox(gridLayer(tmp, "f.tif", f), form.box());
    ASSERT_EQ(ui.driver.messages.size(), 2u);
    EXPECT_EQ(ui.driver.messages[1].text, "f.tif has no fields in it");
}

TEST(CreatePatchCommand, EventsSetTheFlagAndFollowTheFocusedMap) {
    TestUi ui;
    TempFolder tmp;
    auto& app = h::Application::instance();
    auto doc = app.document();
    kv::clsG_createPatch patch;
    kv::clsG_AboutKVG about;
    patch.OnCreate(&app);
    about.OnCreate(&app);
    about.Enabled();
    EXPECT_FALSE(kv::MapLayersChanged());
    EXPECT_FALSE(patch.Enabled());

    auto grid = gridLayer(tmp, "g.tif");
    doc->focusMap()->addLayer(grid);
    EXPECT_TRUE(kv::MapLayersChanged());
    about.Enabled();
    doc->setSelectedLayer(grid);
    EXPECT_TRUE(patch.Enabled());       // the selection, on every poll
    EXPECT_FALSE(kv::MapLayersChanged());
    doc->focusMap()->deleteLayer(grid);
    EXPECT_TRUE(kv::MapLayersChanged());
    about.Enabled();

    // Another map: its layers raise nothing until it is focused.
    auto other = std::make_shared<h::Map>("Other");
    doc->addMap(other);
    other->addLayer(gridLayer(tmp, "h.tif"));
    EXPECT_FALSE(kv::MapLayersChanged());
    auto first = doc->focusMap();
    doc->setFocusMap(other);
    EXPECT_TRUE(kv::MapLayersChanged());
    EXPECT_EQ(patch.connectedMap(), other);
    about.Enabled();
    first->addLayer(gridLayer(tmp, "i.tif"));
    EXPECT_FALSE(kv::MapLayersChanged());
    other->addLayer(gridLayer(tmp, "j.tif"));
    EXPECT_TRUE(kv::MapLayersChanged());
    about.Enabled();

    // A document opened.
    doc->openDocument();
    EXPECT_TRUE(kv::MapLayersChanged());
    about.Enabled();
    EXPECT_TRUE(ui.driver.errorReports.empty());
}
