// The field calculator: its grammar, its refusals, and writing a field.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "FaultInjection.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/data/Calculator.h"
#include "host/data/PointIndex.h"
#include "host/data/Workspace.h"

using namespace korvane::host;
using korvane::test::TempFolder;

namespace {

Fields sampleFields() {
    return Fields({{"FID", FieldOID, 4, 0, 0},
                   {"Shape", FieldGeometry, 0, 0, 0},
                   {"Area", FieldDouble, 0, 19, 11},
                   {"Count", FieldInteger, 0, 9, 0},
                   {"Name", FieldString, 20, 0, 0},
                   {"Seen", FieldDate, 8, 0, 0},
                   {"Empty", FieldDouble, 0, 19, 11}});
}
std::vector<Value> sampleValues() {
    return {int32_t{0}, Value{}, 2.5, int32_t{4}, std::string("Sb \"x\""), Date{2020, 1, 2}, Value{}};
}

}  // namespace

TEST(Calculator, EvaluatesItsGrammar) {
    struct Case {
        const char* text;
        Value want;
    } cases[] = {
        {"7", 7.0},
        {" 1.5e1 ", 15.0},
        {".5", 0.5},
        {"1 + 2 * 3", 7.0},
        {"(1 + 2) * 3", 9.0},
        {"10 - 4 - 3", 3.0},
        {"12 / 4 / 3", 1.0},
        {"-[Area] * 2", -5.0},
        {"--3", 3.0},
        {"+3", 3.0},
        {"[area] + [COUNT]", 6.5},
        {"\"ABC\"", std::string("ABC")},
        {"\"say \"\"hi\"\"\"", std::string("say \"hi\"")},
        {"\"\"", std::string("")},
        {"[Name] & \"-\" & [Count]", std::string("Sb \"x\"-4")},
        {"1 + 2 & \"x\"", std::string("3x")},   // & binds looser than +
        {"[Empty] + 1", Value{}},                // null in arithmetic
        {"\"a\" & [Empty]", std::string("a")},   // null joins as nothing
    };
    Fields fields = sampleFields();
    std::vector<Value> values = sampleValues();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Expression e = Expression::compile(c.text, fields);
        EXPECT_EQ(e.evaluate(values), c.want);
    }
}

TEST(Calculator, RefusesEverythingOutsideItsGrammar) {
    const char* refused[] = {
        "",                      // nothing
        "1 +",                   // operand missing
        "(1 + 2",                // parenthesis open
        "1 + 2)",                // trailing text
        "\"open",                // text not closed
        "[Area",                 // field not closed
        "[Nope] + 1",            // unknown field
        "[Seen] & \"\"",         // dates cannot be read
        "[Shape] & \"\"",        // nor shapes
        "Area + 1",              // names outside brackets
        "abs(-1)",               // functions
        "system(\"rm -rf /\")",  // nothing runs
        "`ls`",
        "$HOME",
        "1; 2",
        "'text'",                // single quotes are not text
        "\"a\" + \"b\"",         // + takes numbers
        "[Name] * 2",
        "-\"a\"",
        "1 = 1",                 // no comparison
        "1e999",                 // not a finite number
        "1..2",
    };
    Fields fields = sampleFields();
    for (const char* text : refused) {
        try {
            Expression::compile(text, fields);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), korvane::host::err::HostInvalidArg) << text;
        }
    }
    // Division by zero fails when it happens.
    Expression e = Expression::compile("1 / ([Count] - 4)", fields);
    EXPECT_THROW(e.evaluate(sampleValues()), Failure);
    // A deeply nested expression is refused, not a stack overflow.
    EXPECT_THROW(Expression::compile(std::string(100000, '(') + "1" + std::string(100000, ')'), fields), Failure);
    EXPECT_THROW(Expression::compile(std::string(100000, '-') + "1", fields), Failure);
}

TEST(Calculator, WritesTheFieldInItsTypeForTheCursorsRows) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto fc = ws.createFeatureClass("t",
                                    {{"Code", FieldSmallInteger, 0, 4, 0},
                                     {"Label", FieldString, 6, 0, 0},
                                     {"Ratio", FieldDouble, 0, 10, 3}},
                                    ShapeType::Polygon);
    {
        InsertCursor ins = fc->insert(true);
        RowPtr r = ins.createRowBuffer();
        for (int i = 0; i < 4; ++i) {
            r->setValue("Code", i);
            r->setShape(Geometry::polygon({{{i * 1.0, 0}, {i + 1.0, 0}, {i + 1.0, 1}, {i * 1.0, 1}}}));
            ins.insertRow(*r);
        }
    }
    QueryFilter big("Code >= 2");
    {
        Cursor c = fc->update(&big, false);
        EXPECT_EQ(Calculator(fc->fields(), "Ratio", "[Code] / 4").calculate(c), 2);
    }
    {
        Cursor c = fc->update(nullptr, false);
        Calculator(fc->fields(), "Label", "\"c\" & [Code]").calculate(c);
    }
    {
        // Text that is a number goes into a numeric field as that number;
        // 2.6 rounds to 3 in an integer field.
        Cursor c = fc->update(&big, false);
        Calculator(fc->fields(), "Code", "\"2.6\"").calculate(c);
    }
    EXPECT_EQ(std::get<double>(fc->row(3)->value("Ratio")), 0.75);
    EXPECT_TRUE(isNull(fc->row(1)->value("Ratio")));
    EXPECT_EQ(std::get<std::string>(fc->row(2)->value("Label")), "c2");
    EXPECT_EQ(std::get<int32_t>(fc->row(3)->value("Code")), 3);
    // Values that the field cannot hold are refused by valueFor, before a write.
    RowPtr r = fc->row(0);
    EXPECT_THROW(Calculator(fc->fields(), "Code", "\"abc\"").valueFor(*r), Failure);
    EXPECT_THROW(Calculator(fc->fields(), "Code", "40000").valueFor(*r), Failure);
    EXPECT_THROW(Calculator(fc->fields(), "Label", "\"too long\"").valueFor(*r), Failure);
    EXPECT_THROW(Calculator(fc->fields(), "FID", "1"), Failure);
    EXPECT_THROW(Calculator(fc->fields(), "Nope", "1"), Failure);
}

TEST(PointIndex, FindsWhatAComparisonWithEveryPointFinds) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(0, 1000);
    std::vector<Point> pts;
    for (int i = 0; i < 3000; ++i) pts.push_back({600000 + std::round(u(rng)) / 4, 5050000 + std::round(u(rng)) / 4});
    // Duplicates and points at exact distances on the axes.
    pts.push_back(pts[0]);
    pts.push_back({pts[0].x + 10, pts[0].y});
    pts.push_back({pts[0].x, pts[0].y - 10});
    for (double r : {0.0, 10.0, 0.25, 37.5, 5000.0, -1.0}) {
        PointIndex index(pts, r);
        for (size_t i = 0; i < pts.size(); i += 7) {
            std::vector<int32_t> want, got;
            for (size_t j = 0; j < pts.size(); ++j) {
                double dy = pts[i].y - pts[j].y, dx = pts[i].x - pts[j].x;
                if (std::sqrt(dy * dy + dx * dx) <= r) want.push_back(static_cast<int32_t>(j));
            }
            index.within(pts[i], r, got);
            ASSERT_EQ(got, want) << "r " << r << " point " << i;
        }
    }
    PointIndex index(pts, 10);
    std::vector<int32_t> got;
    index.within(pts[0], 10, got);
    EXPECT_NE(std::find(got.begin(), got.end(), 3001), got.end());  // at exactly 10
    EXPECT_NE(std::find(got.begin(), got.end(), 3002), got.end());
    EXPECT_NE(std::find(got.begin(), got.end(), 3000), got.end());  // the duplicate, at 0
}

// The rows of a calculation reach the file together: a value that cannot be
// stored in a later row, or a failed write, leaves the files as they were.
TEST(Calculator, AValueThatCannotBeStoredOrAFailedWriteChangesNothing) {
    struct Case {
        const char* name;
        std::function<void()> inject;
        const char* expression;
    };
    std::vector<Case> cases = {{"division by zero at the fourth row", [] {}, "1 / ([Code] - 3)"},
                               {"too wide for the field at the fourth row", [] {}, "[Code] * 40"}};
    for (const auto& f : korvane::test::partWayFailures()) cases.push_back({f.name, f.inject, "[Code] / 4"});
    for (const Case& c : cases) {
        TempFolder tmp;
        auto ws = ShapefileWorkspace::open(tmp.path());
        auto fc = ws.createFeatureClass("t", {{"Code", FieldSmallInteger, 0, 4, 0}, {"Ratio", FieldDouble, 0, 6, 3}},
                                        ShapeType::Polygon);
        for (int i = 0; i < 5; ++i) {
            RowPtr r = fc->createRow();
            r->setValue("Code", i);
            r->setShape(Geometry::polygon({{{i * 1.0, 0}, {i + 1.0, 0}, {i + 1.0, 1}, {i * 1.0, 1}}}));
            r->store();
        }
        fc->flush();
        korvane::test::FolderSnapshot before(tmp.path());
        c.inject();
        Cursor cursor = fc->update(nullptr, false);
        EXPECT_THROW(Calculator(fc->fields(), "Ratio", c.expression).calculate(cursor), Failure) << c.name;
        korvane::host::testing::clearFaults();
        EXPECT_TRUE(before.sameAsNow()) << c.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(tmp.path()).empty()) << c.name;
        EXPECT_TRUE(isNull(fc->row(0)->value("Ratio"))) << c.name;
    }
}
