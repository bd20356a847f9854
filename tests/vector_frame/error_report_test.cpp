// The error report: the text a top-level report shows for a failure caught
// directly, for a chain of inner procedures, and for unknown lines.
#include <gtest/gtest.h>

#include "host/Failure.h"
#include "shared/ErrorHandling.h"
#include "TestUi.h"

KV_MODULE("Modules/modTest");

namespace h = korvane::host;

namespace {
const std::string kHead = "Record Call Stack Sequence - Bottom line is error line.\r\n\r\n";

std::string block(int32_t number, const std::string& description) {
    return "\r\nError Number \r\n\t" + std::to_string(number) + "\r\nDescription\r\n\t" + description + "\r\n\r\n";
}

int innerLine = 0, middleLine = 0, topLine = 0;

void innermost() {
    KV_PROCEDURE("GetHeaders", kv::Inner).run([&] {
        innerLine = __LINE__ + 1;
        KV_LINE; h::fail(-2147467259, "Host", "The table is locked.");
    });
}

void middle() {
    KV_PROCEDURE("AddOtherFields", kv::Inner).run([&] {
        middleLine = __LINE__ + 1;
        KV_LINE; innermost();
    });
}

void top() {
    KV_PROCEDURE("cmdRun_Click", kv::TopLevel).run([&] {
        topLine = __LINE__ + 1;
        KV_LINE; middle();
    });
}
}  // namespace

TEST(ErrorReport, TopLevelFailureShowsOneProcedureLineAndTheErrorBlock) {
    TestUi ui;
    int line = 0;
    KV_PROCEDURE("ICommand_OnClick", kv::TopLevel).run([&] {
        line = __LINE__ + 1;
        KV_LINE; h::fail(13, "Korvane", "Type mismatch");
    });
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_EQ(ui.driver.errorReports[0], kHead + "\tICommand_OnClick Modules/modTest Line : " + std::to_string(line) +
                                             "\r\n" + block(13, "Type mismatch"));
    EXPECT_FALSE(kv::ErrorChainFlag());
}

TEST(ErrorReport, ThreeLevelChainListsOutermostFirstWithOneErrorBlock) {
    TestUi ui;
    top();
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    std::string expected = kHead + "\tcmdRun_Click Modules/modTest Line : " + std::to_string(topLine) + "\r\n" +
                           "\tAddOtherFields Modules/modTest Line : " + std::to_string(middleLine) + "\r\n" +
                           "\tGetHeaders Modules/modTest Line : " + std::to_string(innerLine) + "\r\n" +
                           block(-2147467259, "The table is locked.");
    EXPECT_EQ(ui.driver.errorReports[0], expected);
    EXPECT_FALSE(kv::ErrorChainFlag());
}

TEST(ErrorReport, LineZeroLeavesTheBlankAfterTheModulePath) {
    TestUi ui;
    KV_PROCEDURE("Map", kv::TopLevel).run([&] { h::fail(91, "Korvane", "Object variable not set"); });
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_EQ(ui.driver.errorReports[0], kHead + "\tMap Modules/modTest \r\n" + block(91, "Object variable not set"));
    EXPECT_EQ(kv::FormatErrorLine(0), "");
    EXPECT_EQ(kv::FormatErrorLine(177), "Line : 177");
}

TEST(ErrorReport, NumberSourceAndMultiLineDescriptionTravelUnchanged) {
    TestUi ui;
    try {
        kv::ReportProcedureError(kv::Inner, "B Modules/modTest Line : 3", -5, "Src", "first\r\nsecond");
        FAIL() << "an inner report raises";
    } catch (const h::Failure& f) {
        EXPECT_EQ(f.number(), -5);
        EXPECT_EQ(f.source(), "Src");
        EXPECT_EQ(f.description(), "\tB Modules/modTest Line : 3\r\n" + block(-5, "first\r\nsecond"));
        EXPECT_TRUE(kv::ErrorChainFlag());
        kv::ReportProcedureError(kv::TopLevel, "T Modules/modTest Line : 9", f.number(), f.source(), f.description());
    }
    EXPECT_FALSE(kv::ErrorChainFlag());
    EXPECT_NE(ui.driver.errorReports.at(0).find("\t-5\r\n"), std::string::npos);
}

TEST(ErrorReport, SuccessiveTopLevelFailuresEachGetTheirOwnBlock) {
    TestUi ui;
    for (int i = 0; i < 2; ++i) {
        KV_PROCEDURE("Form_Load", kv::TopLevel).run([&] { throw std::runtime_error("boom"); });
    }
    ASSERT_EQ(ui.driver.errorReports.size(), 2u);
    EXPECT_EQ(ui.driver.errorReports[0], ui.driver.errorReports[1]);
    EXPECT_NE(ui.driver.errorReports[1].find("Error Number"), std::string::npos);
}

TEST(ErrorReport, AnInnerFailureThatNeverReachesTheTopLeavesTheFlagSet) {
    TestUi ui;
    try {
        innermost();
    } catch (const h::Failure&) {
    }
    EXPECT_TRUE(kv::ErrorChainFlag());
    KV_PROCEDURE("Later", kv::TopLevel).run([&] { h::fail(5, "x", "second"); });
    // The next report carries no error block of its own.
    EXPECT_EQ(ui.driver.errorReports.at(0), kHead + "\tLater Modules/modTest \r\nsecond");
    kv::ResetErrorChain();
}
