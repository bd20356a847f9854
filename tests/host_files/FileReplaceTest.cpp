// The one replace helper: new versions land whole or not at all, the old
// files are never lost, and nothing but marked temporaries is ever left.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "FaultInjection.h"
#include "host/Failure.h"
#include "host/FileReplace.h"

namespace {

namespace fs = std::filesystem;
namespace h = korvane::host;
namespace ht = korvane::host::testing;
using korvane::test::ChildOutcome;
using korvane::test::FolderSnapshot;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spill(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class FileReplaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kv-replace-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        ht::clearFaults();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // A table of a sidecar and a .dbf, as a user has it.
    void makeTable() {
        spill(dir / "t.shx", std::string(100, 'x'));
        spill(dir / "t.dbf", std::string(300, 'd'));
    }
    fs::path dir;
};

TEST_F(FileReplaceTest, TemporariesAreMarkedKeepTheExtensionAndAreUnique) {
    h::FileReplacement a({dir / "t.shx", dir / "t.dbf"});
    h::FileReplacement b({dir / "t.dbf"});
    EXPECT_EQ(a.temporary(1).parent_path(), dir);
    EXPECT_EQ(a.temporary(1).extension(), ".dbf");
    EXPECT_EQ(a.temporary(0).extension(), ".shx");
    EXPECT_EQ(a.temporary(1).filename().string().rfind("t.kvtmp-", 0), 0u) << a.temporary(1);
    // The targets of one replacement share their stem, so a driver's sidecars
    // land under the other targets' names.
    EXPECT_EQ(a.temporary(0).stem(), a.temporary(1).stem());
    EXPECT_NE(a.temporary(1), b.temporary(0));
    EXPECT_TRUE(h::isKorvaneTemporary(a.temporary(0)));
    EXPECT_FALSE(h::isKorvaneTemporary(dir / "t.dbf"));
    EXPECT_FALSE(h::isKorvaneTemporary(dir / "kvtmp.dbf"));
    EXPECT_TRUE(h::isKorvaneTemporary(h::temporaryNameFor(dir / "copy.shp")));
}

TEST_F(FileReplaceTest, CommitPutsEveryFileInPlaceKeepingModeAndLeavesNoTemporary) {
    makeTable();
    ASSERT_EQ(::chmod((dir / "t.dbf").c_str(), 0640), 0);
    {
        h::FileReplacement r({dir / "t.shx", dir / "t.dbf"});
        spill(r.temporary(0), "new shx");
        spill(r.temporary(1), "new dbf");
        spill(dir / (r.temporary(1).stem().string() + ".cpg"), "UTF-8");   // a sidecar a driver added
        r.commit();
        EXPECT_TRUE(r.committed());
    }
    EXPECT_EQ(slurp(dir / "t.shx"), "new shx");
    EXPECT_EQ(slurp(dir / "t.dbf"), "new dbf");
    struct stat st;
    ASSERT_EQ(::stat((dir / "t.dbf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
}

TEST_F(FileReplaceTest, ALinkedFileIsReplacedWhereItLies) {
    fs::create_directory(dir / "real");
    spill(dir / "real" / "Korvane.ini", "old");
    fs::create_symlink(dir / "real" / "Korvane.ini", dir / "Korvane.ini");
    h::replaceFileContents(dir / "Korvane.ini", "new");
    EXPECT_TRUE(fs::is_symlink(dir / "Korvane.ini"));
    EXPECT_EQ(slurp(dir / "real" / "Korvane.ini"), "new");
    EXPECT_TRUE(korvane::test::temporariesIn(dir / "real").empty());
}

TEST_F(FileReplaceTest, ANewFileIsCreatedAndAnUnwrittenTemporaryIsRefused) {
    h::replaceFileContents(dir / "fresh.txt", "text");
    EXPECT_EQ(slurp(dir / "fresh.txt"), "text");
    makeTable();
    FolderSnapshot before(dir);
    {
        h::FileReplacement r({dir / "t.shx", dir / "t.dbf"});
        spill(r.temporary(0), "new shx");   // the .dbf never written
        EXPECT_THROW(r.commit(), h::Failure);
    }
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
}

TEST_F(FileReplaceTest, AReplacementNotCommittedRemovesItsTemporaries) {
    makeTable();
    FolderSnapshot before(dir);
    {
        h::FileReplacement r({dir / "t.shx", dir / "t.dbf"});
        spill(r.temporary(0), "half");
        spill(r.temporary(1), "half");
    }
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
}

// Every step, failing with a chosen errno, leaves the old file and no
// temporary, and the failure names the file.
TEST_F(FileReplaceTest, AFailingStepLeavesTheOldFile) {
    struct Case {
        ht::Step step;
        int error;
    } cases[] = {{ht::Step::Write, ENOSPC}, {ht::Step::Write, EIO},   {ht::Step::Fsync, EIO},
                 {ht::Step::Close, EDQUOT}, {ht::Step::Rename, EROFS}, {ht::Step::Rename, EACCES}};
    spill(dir / "doc.txt", "the user's text");
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "step " << static_cast<int>(c.step) << " errno " << c.error);
        FolderSnapshot before(dir);
        ht::failAt(c.step, c.error, "doc.txt");
        try {
            h::replaceFileContents(dir / "doc.txt", "a new text");
            ADD_FAILURE() << "no failure";
        } catch (const h::Failure& f) {
            EXPECT_NE(f.description().find("doc.txt"), std::string::npos) << f.description();
            EXPECT_NE(f.description().find(std::strerror(c.error)), std::string::npos) << f.description();
        }
        ht::clearFaults();
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
    }
}

// The sidecars go first and the .dbf last: a failure at the .dbf leaves the
// old .dbf, and a failure at a sidecar leaves every file as it was.
TEST_F(FileReplaceTest, RenamesFollowTheOrderGiven) {
    makeTable();
    FolderSnapshot before(dir);
    ht::failAt(ht::Step::Rename, EIO, ".shx");
    {
        h::FileReplacement r({dir / "t.shx", dir / "t.dbf"});
        spill(r.temporary(0), "new shx");
        spill(r.temporary(1), "new dbf");
        EXPECT_THROW(r.commit(), h::Failure);
    }
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    ht::clearFaults();
    ht::failAt(ht::Step::Rename, EIO, ".dbf");
    {
        h::FileReplacement r({dir / "t.shx", dir / "t.dbf"});
        spill(r.temporary(0), "new shx");
        spill(r.temporary(1), "new dbf");
        EXPECT_THROW(r.commit(), h::Failure);
    }
    EXPECT_EQ(slurp(dir / "t.shx"), "new shx");
    EXPECT_EQ(slurp(dir / "t.dbf"), std::string(300, 'd'));
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
}

// Files kept together: a failed rename puts back those renamed before it.
TEST_F(FileReplaceTest, FilesKeptTogetherAreAllReplacedOrNone) {
    makeTable();
    spill(dir / "t.shp", std::string(200, 's'));
    FolderSnapshot before(dir);
    for (const char* failing : {".shx", ".dbf"}) {
        ht::failAt(ht::Step::Rename, EIO, failing);
        {
            h::FileReplacement r({dir / "t.shp", dir / "t.shx", dir / "t.dbf"});
            r.keepTogether();
            for (size_t i = 0; i < r.size(); ++i) spill(r.temporary(i), "new");
            EXPECT_THROW(r.commit(), h::Failure);
        }
        ht::clearFaults();
        EXPECT_TRUE(before.sameAsNow()) << failing << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(dir).empty()) << failing;
    }
    {
        h::FileReplacement r({dir / "t.shp", dir / "t.shx", dir / "t.dbf"});
        r.keepTogether();
        for (size_t i = 0; i < r.size(); ++i) spill(r.temporary(i), "new");
        r.commit();
    }
    for (const char* name : {"t.shp", "t.shx", "t.dbf"}) EXPECT_EQ(slurp(dir / name), "new") << name;
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
}

// A kill at any step leaves the old file or the new one, whole, and nothing
// unmarked beside it.
TEST_F(FileReplaceTest, AKillAtAnyStepLeavesOneWholeVersion) {
    const std::string oldText(5000, 'o'), newText(7000, 'n');
    for (ht::Step step : {ht::Step::Write, ht::Step::Fsync, ht::Step::Close, ht::Step::Rename}) {
        SCOPED_TRACE(static_cast<int>(step));
        spill(dir / "doc.txt", oldText);
        ChildOutcome out = korvane::test::runInChild([&](std::string&) {
            ht::killAt(step, "doc.txt");
            h::replaceFileContents(dir / "doc.txt", newText);
            return 0;
        });
        EXPECT_EQ(out.signal, SIGKILL) << korvane::test::describe(out);
        auto files = FolderSnapshot::read(dir);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files["doc.txt"], oldText);
        for (const std::string& t : korvane::test::temporariesIn(dir)) fs::remove(dir / t);
    }
}

TEST_F(FileReplaceTest, AFullDiskLeavesTheOldFile) {
    fs::path disk = dir / "disk";
    ChildOutcome out = korvane::test::runOnFullDisk(disk, 64 * 1024, [&](std::string& why) {
        spill(disk / "doc.txt", std::string(4096, 'o'));
        korvane::test::fillDisk(disk, 2048);
        FolderSnapshot before(disk);
        try {
            h::replaceFileContents(disk / "doc.txt", std::string(16384, 'n'));
            why = "the replacement did not fail";
            return 1;
        } catch (const h::Failure& f) {
            if (f.description().find("doc.txt") == std::string::npos) {
                why = "the failure does not name the file: " + f.description();
                return 1;
            }
        }
        if (!before.sameAsNow()) {
            why = before.differences();
            return 1;
        }
        if (!korvane::test::temporariesIn(disk).empty()) {
            why = "a temporary was left";
            return 1;
        }
        return 0;
    });
    if (out.skipped) GTEST_SKIP() << out.message;
    EXPECT_TRUE(out.exited && out.code == 0) << korvane::test::describe(out);
    EXPECT_FALSE(fs::exists(disk / "doc.txt")) << "the mount outlived its child";
}

TEST_F(FileReplaceTest, AFileSizeLimitLeavesTheOldFile) {
    spill(dir / "doc.txt", std::string(500, 'o'));
    FolderSnapshot before(dir);
    ChildOutcome out = korvane::test::runWithFileSizeLimit(1000, [&](std::string& why) {
        try {
            h::replaceFileContents(dir / "doc.txt", std::string(4000, 'n'));
        } catch (const h::Failure&) {
            return 0;
        }
        why = "the replacement did not fail";
        return 1;
    });
    if (out.skipped) GTEST_SKIP() << out.message;
    EXPECT_TRUE(out.exited && out.code == 0) << korvane::test::describe(out);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
}

// A protected target is refused, not renamed over: immutable where the file
// system allows it, read-only to an ordinary user.
TEST_F(FileReplaceTest, AProtectedTargetIsRefusedBeforeAnyRename) {
    makeTable();
    FolderSnapshot before(dir);
    bool tried = false;
    {
        korvane::test::ImmutableFile locked(dir / "t.dbf");
        if (locked.active()) {
            tried = true;
            h::FileReplacement r({dir / "t.shx", dir / "t.dbf"});
            spill(r.temporary(0), "new shx");
            spill(r.temporary(1), "new dbf");
            EXPECT_THROW(r.commit(), h::Failure);
        }
    }
    if (::geteuid() != 0) {
        tried = true;
        ASSERT_EQ(::chmod((dir / "t.dbf").c_str(), 0444), 0);
        h::FileReplacement r({dir / "t.shx", dir / "t.dbf"});
        spill(r.temporary(0), "new shx");
        spill(r.temporary(1), "new dbf");
        EXPECT_THROW(r.commit(), h::Failure);
        ::chmod((dir / "t.dbf").c_str(), 0644);
    }
    if (!tried) GTEST_SKIP() << "neither an immutable file nor an ordinary user here";
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
}

// A dBASE header (32 bytes and the end mark) for `records` records of
// `recordLength` bytes, with the records it has room for after it.
std::string dbfBytes(uint32_t records, uint16_t recordLength, uint32_t recordsWritten) {
    std::string h(32, '\0');
    h[0] = 3;
    for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>((records >> (8 * i)) & 0xff);
    h[8] = 33;
    h[10] = static_cast<char>(recordLength & 0xff);
    h[11] = static_cast<char>(recordLength >> 8);
    return h + '\r' + std::string(static_cast<size_t>(recordsWritten) * recordLength, ' ');
}

TEST_F(FileReplaceTest, ADatasetCutShortIsRefusedBeforeAnyRename) {
    // The driver's writes fell short of what its header says, and it did not
    // say so: the table checked whole is refused, its sidecar left as well.
    spill(dir / "t.cpg", "UTF-8");
    spill(dir / "t.dbf", dbfBytes(2, 10, 2));
    FolderSnapshot before(dir);
    {
        h::FileReplacement r({dir / "t.cpg", dir / "t.dbf"});
        r.checkDatasets();
        spill(r.temporary(0), "LATIN1");
        spill(r.temporary(1), dbfBytes(7, 10, 4));
        try {
            r.commit();
            ADD_FAILURE() << "a table cut short was put in place";
        } catch (const h::Failure& f) {
            // Named as the user's table, never as the temporary.
            EXPECT_NE(f.description().find((dir / "t.dbf").string()), std::string::npos) << f.description();
            EXPECT_EQ(h::withoutTemporaryNames(f.description()).find(".kvtmp-"), std::string::npos);
        }
    }
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(korvane::test::temporariesIn(dir).empty());
    // Whole, it goes in.
    h::FileReplacement r({dir / "t.dbf"});
    r.checkDatasets();
    spill(r.temporary(0), dbfBytes(7, 10, 7));
    r.commit();
    EXPECT_EQ(slurp(dir / "t.dbf"), dbfBytes(7, 10, 7));
}

TEST(TemporaryNames, MessagesNameTheUsersFiles) {
    const std::pair<const char*, const char*> cases[] = {
        {"Cannot write /d/clip.kvtmp-23662-1-0f9d0620.tif: No space left.", "Cannot write /d/clip.tif: No space left."},
        {"a.kvtmp-1-2-ab.dbf and a.kvtmp-1-2-ab-old.shp", "a.dbf and a.shp"},
        {"x.kvtmp-1-1-aa.kvtmp-2-2-bb.dbf", "x.dbf"},
        {"stats.dbf.kvtmp-lock", "stats.dbf"},
        {"nothing marked here", "nothing marked here"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(h::withoutTemporaryNames(text), shown) << text;
}

}  // namespace
