// Selection sets of feature layers.
#include <gtest/gtest.h>

#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"

using namespace korvane::host;
using korvane::test::idsOf;
using korvane::test::TempFolder;

namespace {

// Ten unit squares in a row; Kind cycles 1, 2, 3 (ids 0..9), Tag is "even"
// or "odd" by id.
FeatureLayerPtr makeLayer(const TempFolder& tmp) {
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto fc = ws.createFeatureClass("cells", {{"Kind", FieldSmallInteger, 0, 2, 0}, {"Tag", FieldString, 4, 0, 0}},
                                    ShapeType::Polygon);
    InsertCursor ins = fc->insert(true);
    RowPtr r = ins.createRowBuffer();
    for (int i = 0; i < 10; ++i) {
        r->setValue("Kind", i % 3 + 1);
        r->setValue("Tag", std::string(i % 2 ? "odd" : "even"));
        r->setShape(Geometry::polygon({{{i * 1.0, 0}, {i + 1.0, 0}, {i + 1.0, 1}, {i * 1.0, 1}}}));
        ins.insertRow(*r);
    }
    ins.flush();
    return std::make_shared<FeatureLayer>(fc);
}

TEST(FeatureLayer, IsAFeatureLayerNamedAfterItsDataset) {
    TempFolder tmp;
    auto layer = makeLayer(tmp);
    EXPECT_EQ(layer->kind(), LayerKind::Feature);
    EXPECT_EQ(layer->name(), "cells");
    EXPECT_EQ(layer->path(), layer->featureClass()->path());
    auto opened = openFeatureLayer(tmp.file("cells.shp"));
    EXPECT_EQ(opened->featureClass(), layer->featureClass());  // one open dataset
    EXPECT_EQ(layerUnits(*opened), 0);
    GroupLayer group("g");
    EXPECT_EQ(layerUnits(group), 0);
}

TEST(SelectionSet, CombinesFiltersByMethod) {
    TempFolder tmp;
    auto layer = makeLayer(tmp);
    SelectionSet& sel = layer->selectionSet();
    QueryFilter kind1("Kind = 1");  // 0 3 6 9
    QueryFilter odd("Tag = 'odd'");  // 1 3 5 7 9
    QueryFilter kind2("Kind=2");     // 1 4 7

    layer->selectFeatures(&kind1, SelectionMethod::New);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{0, 3, 6, 9}));
    layer->selectFeatures(&kind2, SelectionMethod::Add);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{0, 1, 3, 4, 6, 7, 9}));
    layer->selectFeatures(&odd, SelectionMethod::Subtract);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{0, 4, 6}));
    layer->selectFeatures(&kind1, SelectionMethod::Intersect);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{0, 6}));
    EXPECT_EQ(sel.count(), 2);

    // A bad clause fails and leaves the selection alone.
    QueryFilter bad("Tag = odd");
    EXPECT_THROW(layer->selectFeatures(&bad, SelectionMethod::New), Failure);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{0, 6}));

    layer->selectFeatures(nullptr, SelectionMethod::New);
    EXPECT_EQ(sel.count(), 10);
    EXPECT_EQ(selectWhere(*layer, "Kind = 3 OR Kind = 9"), 3);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{2, 5, 8}));
}

TEST(SelectionSet, SearchHonoursTheSelection) {
    TempFolder tmp;
    auto layer = makeLayer(tmp);
    SelectionSet& sel = layer->selectionSet();
    sel.add(std::vector<int64_t>{7, 2, 9, 2});
    sel.add(4);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{2, 4, 7, 9}));
    EXPECT_EQ(idsOf(sel.search(nullptr, false)), (std::vector<int64_t>{2, 4, 7, 9}));
    QueryFilter odd("Tag = 'odd'");
    EXPECT_EQ(idsOf(sel.search(&odd, true)), (std::vector<int64_t>{7, 9}));
    // The layer's own search covers the whole class.
    EXPECT_EQ(idsOf(layer->search(&odd, true)), (std::vector<int64_t>{1, 3, 5, 7, 9}));
    // Rows from a selection search carry their values and shapes.
    Cursor c = sel.search(nullptr, true);
    RowPtr r = c.next();
    EXPECT_EQ(std::get<int32_t>(r->value("Kind")), 3);
    EXPECT_DOUBLE_EQ(r->shape().centroid().x, 2.5);
    sel.remove(4);
    EXPECT_FALSE(sel.contains(4));
    layer->clearSelection();
    EXPECT_TRUE(sel.empty());
    EXPECT_EQ(sel.search(nullptr, true).next(), nullptr);
}

TEST(SelectionSet, ClassByClassSubtractionEmptiesTheSelection) {
    // The class-list walk: select everything, then subtract one class at a
    // time found from the first remaining feature.
    TempFolder tmp;
    auto layer = makeLayer(tmp);
    layer->selectFeatures(nullptr, SelectionMethod::New);
    std::vector<int32_t> classes;
    for (int guard = 0; guard < 10 && layer->selectionSet().count() > 0; ++guard) {
        RowPtr first = layer->selectionSet().search(nullptr, false).next();
        int32_t k = std::get<int32_t>(first->value("Kind"));
        classes.push_back(k);
        QueryFilter f("Kind=" + std::to_string(k));
        layer->selectFeatures(&f, SelectionMethod::Subtract);
    }
    EXPECT_EQ(classes, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_TRUE(layer->selectionSet().empty());
}

TEST(SelectionSet, NeedsATableAndItsOwnClass) {
    SelectionSet none;
    EXPECT_THROW(none.select(nullptr, SelectionMethod::New), Failure);
    EXPECT_THROW(none.search(nullptr, true), Failure);
    TempFolder tmp;
    auto layer = makeLayer(tmp);
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto other = ws.copyDataset(*layer->featureClass(), "other");
    EXPECT_THROW(layer->setSelectionSet(SelectionSet(other)), Failure);
}

}  // namespace

// A selection by a clause reads only the fields the clause tests; every
// other read of the table, before, during or after it, gets whole rows.
TEST(SelectionSet, ASelectionByAClauseLeavesOtherReadsWhole) {
    TempFolder tmp;
    auto layer = makeLayer(tmp);
    auto fc = layer->featureClass();
    auto whole = [](const RowPtr& r) {
        return r && !r->shape().isEmpty() && !isNull(r->value("Tag")) && !isNull(r->value("Kind"));
    };
    Cursor before = fc->search(nullptr, false);
    ASSERT_TRUE(whole(before.next()));
    QueryFilter kind1("Kind = 1");
    layer->selectFeatures(&kind1, SelectionMethod::New);
    EXPECT_EQ(layer->selectionSet().ids(), (std::vector<int64_t>{0, 3, 6, 9}));
    EXPECT_TRUE(whole(before.next()));   // a cursor open across the selection
    // A record written straight to the file makes the table reopen its
    // dataset in the middle of the next selection's scan.
    {
        Cursor c = fc->update(nullptr, false);
        RowPtr r = c.next();
        r->setValue("Tag", std::string("new"));
        c.updateRow(*r);
    }
    QueryFilter tagged("Tag = 'new'");
    layer->selectFeatures(&tagged, SelectionMethod::New);
    EXPECT_EQ(layer->selectionSet().ids(), (std::vector<int64_t>{0}));
    int64_t rows = 0;
    Cursor after = fc->search(nullptr, false);
    while (RowPtr r = after.next()) {
        EXPECT_TRUE(whole(r)) << "row " << r->oid();
        ++rows;
    }
    EXPECT_EQ(rows, 10);
}

TEST(SelectionSet, UpdateCursorChangesTheSelectedRowsThatMatchOnly) {
    TempFolder tmp;
    auto layer = makeLayer(tmp);
    SelectionSet& sel = layer->selectionSet();
    sel.add(std::vector<int64_t>{1, 2, 3, 4, 5});
    QueryFilter kind2("Kind = 2");  // 1 4 7, of which 1 and 4 are selected
    Cursor c = sel.update(&kind2, false);
    std::vector<int64_t> seen;
    while (RowPtr r = c.next()) {
        seen.push_back(r->oid());
        r->setValue("Tag", std::string("hit"));
        c.updateRow(*r);
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{1, 4}));
    QueryFilter hit("Tag = 'hit'");
    EXPECT_EQ(idsOf(layer->featureClass()->search(&hit, true)), (std::vector<int64_t>{1, 4}));
    // A bad clause fails before a cursor exists; an empty set gives no rows.
    QueryFilter badClause("Nope = 1");
    EXPECT_THROW(sel.update(&badClause, false), Failure);
    SelectionSet none(layer->featureClass());
    EXPECT_TRUE(idsOf(none.update(nullptr, true)).empty());
}
