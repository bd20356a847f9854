// The where-clause dialect: what each clause selects from a small set of
// rows, and which clauses are refused.
#include <gtest/gtest.h>

#include "host/Failure.h"
#include "host/data/QueryFilter.h"

using namespace korvane::host;

namespace {

Fields sampleFields() {
    return Fields({
        {"FID", FieldOID, 4, 0, 0},
        {"Shape", FieldGeometry, 0, 0, 0},
        {"Name", FieldString, 20, 0, 0},
        {"Cls", FieldInteger, 0, 9, 0},
        {"Area", FieldDouble, 0, 19, 5},
        {"Born", FieldDate, 8, 0, 0},
        {"Note", FieldString, 20, 0, 0},
        {"Small", FieldSmallInteger, 0, 4, 0},
        {"Ratio", FieldSingle, 0, 13, 5},
    });
}

std::vector<std::vector<Value>> sampleRows() {
    std::monostate null;
    return {
        {0, null, std::string("Pine"), 1, 2.5, Date{2020, 1, 5}, std::string("O'Brien"), 3, 0.5f},
        {1, null, std::string("Spruce"), 2, 10.0, Date{2021, 6, 30}, null, 4, 1.25f},
        {2, null, std::string("pine"), 3, 0.5, null, std::string("50% off"), null, null},
        {3, null, std::string("Fir"), 1, 7.25, Date{2019, 12, 31}, std::string("a_b"), 5, 0.5f},
        {4, null, std::string(""), 10, null, Date{2020, 1, 5}, std::string(""), 3, 2.0f},
    };
}

std::vector<int> selected(const std::string& clause) {
    Fields fields = sampleFields();
    WhereClause w = WhereClause::compile(clause, fields);
    std::vector<int> out;
    auto rows = sampleRows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (w.matches(rows[i])) out.push_back(static_cast<int>(i));
    return out;
}

struct Case {
    const char* clause;
    std::vector<int> rows;
};

class Selects : public ::testing::TestWithParam<Case> {};

TEST_P(Selects, TheExpectedRows) {
    const Case& c = GetParam();
    EXPECT_EQ(selected(c.clause), c.rows) << c.clause;
}

INSTANTIATE_TEST_SUITE_P(
    Comparisons, Selects,
    ::testing::Values(
        // Text: quoted, case-sensitive values; field names in any case and quoting.
        Case{"Name = 'Pine'", {0}}, Case{"Name='Pine'", {0}}, Case{"name='Pine'", {0}},
        Case{"NAME   =   'Pine'", {0}}, Case{"[Name] = 'Spruce'", {1}}, Case{"\"name\"='Fir'", {3}},
        Case{"Name = ''", {4}}, Case{"Name > 'P'", {0, 1, 2}}, Case{"Name < 'a'", {0, 1, 3, 4}},
        Case{"Note = 'O''Brien'", {0}}, Case{"Name <> 'Pine'", {1, 2, 3, 4}},
        // Numbers, with and without blanks, quoted numbers on numeric fields.
        Case{"Cls = 1", {0, 3}}, Case{"Cls=1", {0, 3}}, Case{"Cls = '1'", {0, 3}}, Case{"Cls = ' 1 '", {0, 3}},
        Case{"Cls <> 1", {1, 2, 4}}, Case{"Cls!=1", {1, 2, 4}}, Case{"Cls>=2", {1, 2, 4}},
        Case{"Cls<=2", {0, 1, 3}}, Case{"Cls < 2", {0, 3}}, Case{"Cls>2", {2, 4}}, Case{"Area > 2.5", {1, 3}},
        Case{"Area >= 2.5", {0, 1, 3}}, Case{"Area = .5", {2}}, Case{"Area = 5E-1", {2}},
        Case{"Area > -1", {0, 1, 2, 3}}, Case{"Area>-1e3", {0, 1, 2, 3}}, Case{"Small = 3", {0, 4}},
        Case{"Ratio = 0.5", {0, 3}}, Case{"FID = 2", {2}}, Case{"fid >= 3", {3, 4}},
        Case{"Cls < Small", {0, 1, 3}}, Case{"Name = Name", {0, 1, 2, 3, 4}}, Case{"1 = 1", {0, 1, 2, 3, 4}},
        Case{"1 = 0", {}}, Case{"   ", {0, 1, 2, 3, 4}}, Case{"", {0, 1, 2, 3, 4}},
        // Dates.
        Case{"Born = '2020-01-05'", {0, 4}}, Case{"Born > '2020/01/05'", {1}},
        // Between.
        Case{"Area BETWEEN 1 AND 8", {0, 3}}, Case{"Cls NOT BETWEEN 1 AND 2", {2, 4}}));

INSTANTIATE_TEST_SUITE_P(
    Logic, Selects,
    ::testing::Values(
        Case{"Cls = 1 AND Name = 'Fir'", {3}}, Case{"cls = 1 or cls = 2", {0, 1, 3}},
        Case{"Cls = 1 AND (Name = 'Fir' OR Name = 'Pine')", {0, 3}},
        // AND binds tighter than OR.
        Case{"Cls = 10 OR Cls = 2 AND Name = 'Pine'", {4}}, Case{"(Cls = 10 OR Cls = 2) AND Name = 'Spruce'", {1}},
        Case{"NOT (Cls = 1)", {1, 2, 4}}, Case{"not not Cls = 1", {0, 3}}, Case{"((Cls = 2))", {1}},
        // Null is neither equal nor unequal: it drops out of a test and of its negation.
        Case{"NOT Area > 2.5", {0, 2}}, Case{"Area IS NULL", {4}}, Case{"Area is not null", {0, 1, 2, 3}},
        Case{"Note IS NULL", {1}}, Case{"Note <> 'x'", {0, 2, 3, 4}}, Case{"Area > 2.5 OR Area IS NULL", {1, 3, 4}}));

INSTANTIATE_TEST_SUITE_P(
    LikeAndIn, Selects,
    ::testing::Values(
        Case{"Name LIKE 'P%'", {0}}, Case{"Name like '%ine'", {0, 2}}, Case{"Name LIKE '_ir'", {3}},
        Case{"Name NOT LIKE 'P%'", {1, 2, 3, 4}}, Case{"Name LIKE '%'", {0, 1, 2, 3, 4}},
        Case{"Note LIKE '%''%'", {0}}, Case{"Note LIKE 'a_b'", {3}}, Case{"Note LIKE '50%'", {2}},
        Case{"Name LIKE '%r%e%'", {1}}, Case{"Name LIKE 'Fir_'", {}},
        Case{"Cls IN (1, 3)", {0, 2, 3}}, Case{"Cls in(1,3)", {0, 2, 3}}, Case{"Name IN ('Pine','Fir')", {0, 3}},
        Case{"Cls NOT IN (1, 3)", {1, 4}}, Case{"Cls IN ('2')", {1}}, Case{"Note NOT IN ('x')", {0, 2, 3, 4}}));

class Refused : public ::testing::TestWithParam<const char*> {};

TEST_P(Refused, FailsWhenCompiled) {
    Fields fields = sampleFields();
    try {
        WhereClause::compile(GetParam(), fields);
        FAIL() << "accepted: " << GetParam();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::HostInvalidArg);
        EXPECT_FALSE(f.description().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clauses, Refused,
    ::testing::Values(
        // A text field compared with an unquoted value.
        "Name = 1", "Name=1.5", "Name = Pine", "Name IN ('a', 2)", "Name = Cls",
        // A numeric field compared with text that is no number.
        "Cls = 'abc'", "Cls = ''", "Cls IN (1, 'x')", "Cls LIKE '1%'",
        // Dates need a quoted date.
        "Born = 5", "Born = 'yesterday'", "Born = '2021-02-30'",
        // Unknown or unusable fields.
        "Nope = 1", "[No such] = 1", "Shape = 1",
        // Malformed.
        "Cls = ", "Cls 1", "Cls = 1 AND", "(Cls = 1", "Cls = 1)", "Name = 'Pine", "[Name = 'x'", "Cls == 1",
        "Cls = 1 Name = 'x'", "Cls IS 1", "Cls IN ()", "Cls IN 1", "Name LIKE Pine", "NOT", "Cls = 1 ; x",
        "Cls = 12abc", "Cls BETWEEN 1", "Cls ! 1", "AND = 1", "= 1"));

TEST(WhereClause, DeepNestingFailsInsteadOfExhaustingTheStack) {
    std::string clause = std::string(5000, '(') + "Cls = 1" + std::string(5000, ')');
    EXPECT_THROW(WhereClause::compile(clause, sampleFields()), Failure);
    std::string nots;
    for (int i = 0; i < 5000; ++i) nots += "NOT ";
    EXPECT_THROW(WhereClause::compile(nots + "Cls = 1", sampleFields()), Failure);
}

TEST(WhereClause, ReportsTheFieldsItReads) {
    WhereClause w = WhereClause::compile("Cls = 1 OR cls = 2 AND [Name] LIKE 'P%'", sampleFields());
    EXPECT_EQ(w.fieldsUsed(), (std::vector<int32_t>{3, 2}));
    EXPECT_TRUE(WhereClause::compile(" ", sampleFields()).matchesAll());
}

}  // namespace
