// Edit sessions: the changes of a run reach a table's files whole at the
// commit, byte for byte as the plain writes make them, or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>

#include "FaultInjection.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/data/TableImpl.h"
#include "host/data/Workspace.h"

using namespace korvane::host;
using korvane::test::FolderSnapshot;
using korvane::test::readBytes;
using korvane::test::TempFolder;
namespace stdfs = std::filesystem;
namespace t = korvane::host::testing;

namespace {

// Six squares: Code 1..6, Label "r<i>", Ratio empty.
std::string makeLayer(const std::string& folder) {
    stdfs::create_directories(folder);
    auto ws = ShapefileWorkspace::open(folder);
    auto fc = ws.createFeatureClass("t",
                                    {{"Code", FieldSmallInteger, 0, 4, 0},
                                     {"Label", FieldString, 8, 0, 0},
                                     {"Ratio", FieldDouble, 0, 10, 3}},
                                    ShapeType::Polygon);
    InsertCursor ins = fc->insert(true);
    RowPtr r = ins.createRowBuffer();
    for (int i = 0; i < 6; ++i) {
        r->setValue("Code", i + 1);
        r->setValue("Label", "r" + std::to_string(i));
        r->setShape(Geometry::polygon({{{i * 2.0, 0}, {i * 2.0, 1}, {i * 2.0 + 1, 1}, {i * 2.0 + 1, 0}}}));
        ins.insertRow(*r);
    }
    ins.flush();
    fc->close();
    return folder + "/t.shp";
}

// Every file's bytes, the .dbf's last-update date blanked (it is the day of
// writing).
std::map<std::string, std::vector<uint8_t>> filesOf(const std::string& folder) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto& e : stdfs::directory_iterator(folder)) {
        std::vector<uint8_t> b = readBytes(e.path().string());
        if (e.path().extension() == ".dbf")
            for (size_t i = 1; i < 4 && i < b.size(); ++i) b[i] = 0;
        out[e.path().filename().string()] = std::move(b);
    }
    return out;
}

ino_t inode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// Ratio = Code / 4 for the rows of the cursor (every row, or the even ids).
void setRatios(FeatureClass& fc, bool evenOnly = false) {
    Cursor c = fc.update(nullptr, true);
    while (RowPtr r = c.next()) {
        if (evenOnly && r->oid() % 2) continue;
        r->setValue("Ratio", std::get<int32_t>(r->value("Code")) / 4.0);
        c.updateRow(*r);
    }
}

struct Work {
    const char* name;
    std::function<void(FeatureClass&)> run;
    bool driverStores;   // the driver itself stores rows, shapes and all
    bool shapesChanged;  // and its .shp and .shx differ: they are replaced too
    bool ownWrites;      // the data layer itself writes records or fields
};

const std::vector<Work>& works() {
    static const std::vector<Work> w = {
        {"attribute updates", [](FeatureClass& fc) { setRatios(fc); }, false, false, true},
        {"fields added and filled",
         [](FeatureClass& fc) {
             fc.addFields({{"Extra", FieldInteger, 0, 6, 0}, {"Note", FieldString, 4, 0, 0}});
             Cursor c = fc.update(nullptr, true);
             while (RowPtr r = c.next()) {
                 r->setValue("Extra", static_cast<int32_t>(r->oid() * 100));
                 r->setValue("Note", std::string("n"));
                 c.updateRow(*r);
             }
         },
         false, false, true},
        {"a field copied and the old one deleted",
         [](FeatureClass& fc) {
             fc.addField({"Label2", FieldString, 8, 0, 0});
             Cursor c = fc.update(nullptr, true);
             while (RowPtr r = c.next()) {
                 r->setValue("Label2", r->value("Label"));
                 c.updateRow(*r);
             }
             fc.deleteField("Label");
         },
         false, false, true},
        {"rows stored with their shapes",
         [](FeatureClass& fc) {
             Cursor c = fc.update(nullptr, true);
             while (RowPtr r = c.next()) {
                 Geometry g = r->shape();
                 r->setShape(g);
                 r->setValue("Label", std::string("s") + std::to_string(r->oid()));
                 c.updateRow(*r);
             }
         },
         true, false, false},
        {"fields rewritten in one pass",
         [](FeatureClass& fc) {
             EXPECT_TRUE(fc.rewriteFields({"Code"}, {{"Twice", FieldInteger, 0, 6, 0}},
                                          [](const Row& r, Table::AddedValues& added) {
                                              added = {Value(std::get<int32_t>(r.value("Code")) * 2)};
                                              return true;
                                          }));
         },
         false, false, true},
        {"a row deleted",
         [](FeatureClass& fc) {
             fc.row(4)->deleteRow();
             setRatios(fc);
         },
         true, false, true},
        {"rows added",
         [](FeatureClass& fc) {
             RowPtr r = fc.createRow();
             r->setValue("Code", 7);
             r->setShape(Geometry::polygon({{{20, 0}, {20, 1}, {21, 1}, {21, 0}}}));
             r->store();
             setRatios(fc);
         },
         true, true, true},
    };
    return w;
}

}  // namespace

TEST(EditSession, ChangesReachTheFilesAsThePlainWritesMakeThem) {
    for (const Work& w : works()) {
        TempFolder tmp;
        std::string plain = makeLayer(tmp.file("plain"));
        std::string edited = makeLayer(tmp.file("edited"));
        {
            auto fc = FeatureClass::open(plain);
            w.run(*fc);
            fc->close();
        }
        ino_t shp = inode(tmp.file("edited/t.shp")), shx = inode(tmp.file("edited/t.shx"));
        data::DirectDbfCounts before = data::directDbfCounts();
        {
            auto fc = FeatureClass::open(edited);
            EditSession edit(*fc);
            w.run(*fc);
            edit.commit();
            // Attribute changes leave the shapes' files alone; changed shapes
            // replace them.
            EXPECT_EQ(inode(tmp.file("edited/t.shp")) != shp, w.shapesChanged) << w.name;
            EXPECT_EQ(inode(tmp.file("edited/t.shx")) != shx, w.shapesChanged) << w.name;
            // The table reads what it wrote, with its fields as changed.
            EXPECT_EQ(fc->rowCount(), FeatureClass::open(plain)->rowCount()) << w.name;
            fc->close();
        }
        EXPECT_EQ(filesOf(tmp.file("plain")), filesOf(tmp.file("edited"))) << w.name;
        EXPECT_TRUE(korvane::test::temporariesIn(tmp.file("edited")).empty()) << w.name;
        if (w.ownWrites) {
            // The data layer's own writers worked on the working copy.
            data::DirectDbfCounts after = data::directDbfCounts();
            EXPECT_GT(after.records + after.fieldChanges + after.appended,
                      before.records + before.fieldChanges + before.appended)
                << w.name;
        }
    }
}

TEST(EditSession, AFailureOnTheWayLeavesTheFilesAndFieldsAsTheyWere) {
    // Which works reach a fault: every one, those whose own writes of records
    // or fields follow the copy, those where the driver stores rows, or those
    // whose shapes change.
    enum class Reached { Always, OwnWrites, DriverStores, ShapesChanged };
    struct Fault {
        const char* name;
        std::function<void()> set;
        Reached reached;
    };
    const std::vector<Fault> faults = {
        {"the working copy cannot be made", [] { t::failAt(t::Step::Write, ENOSPC, ".dbf"); }, Reached::Always},
        {"a write of records or fields", [] { t::failAt(t::Step::Write, EIO, ".dbf", 1); }, Reached::OwnWrites},
        {"the shapes cannot be copied", [] { t::failAt(t::Step::Write, ENOSPC, ".shp"); }, Reached::DriverStores},
        {"fsync", [] { t::failAt(t::Step::Fsync, EIO, ".dbf"); }, Reached::Always},
        {"close", [] { t::failAt(t::Step::Close, EIO, ".dbf"); }, Reached::Always},
        {"the rename of the .dbf", [] { t::failAt(t::Step::Rename, EIO, ".dbf"); }, Reached::Always},
        {"the rename of the .shp", [] { t::failAt(t::Step::Rename, EIO, ".shp"); }, Reached::ShapesChanged},
        {"the rename of the .shx", [] { t::failAt(t::Step::Rename, EIO, ".shx"); }, Reached::ShapesChanged},
        {"a value the run refuses", [] {}, Reached::Always},
    };
    for (const Work& w : works()) {
        for (const Fault& f : faults) {
            TempFolder tmp;
            std::string shp = makeLayer(tmp.path());
            auto fc = FeatureClass::open(shp);
            FolderSnapshot before(tmp.path());
            const int32_t fields = fc->fields().count();
            f.set();
            bool failed = false;
            try {
                EditSession edit(*fc);
                w.run(*fc);
                if (std::string(f.name) == "a value the run refuses") {
                    RowPtr r = fc->row(5);
                    r->setValue("Label", std::string("too long for it"));
                    r->store();
                }
                edit.commit();
            } catch (const Failure& e) {
                failed = true;
                // The message names the user's files, not the working copy.
                EXPECT_EQ(e.description().find(".kvtmp-"), std::string::npos) << e.description();
            }
            t::clearFaults();
            const std::string what = std::string(w.name) + ", " + f.name;
            // Faults at steps the work never reaches pass it by; the others fail it.
            bool reached = f.reached == Reached::Always || (f.reached == Reached::OwnWrites && w.ownWrites) ||
                           (f.reached == Reached::DriverStores && w.driverStores) ||
                           (f.reached == Reached::ShapesChanged && w.shapesChanged);
            EXPECT_EQ(failed, reached) << what;
            if (!reached) continue;
            EXPECT_TRUE(before.sameAsNow()) << what << "\n" << before.differences();
            EXPECT_TRUE(korvane::test::temporariesIn(tmp.path()).empty()) << what;
            EXPECT_EQ(fc->fields().count(), fields) << what;
            EXPECT_TRUE(isNull(fc->row(2)->value("Ratio"))) << what;
            EXPECT_EQ(std::get<std::string>(fc->row(2)->value("Label")), "r2") << what;
            // The table goes on as before.
            EditSession again(*fc);
            setRatios(*fc);
            again.commit();
            EXPECT_EQ(std::get<double>(fc->row(2)->value("Ratio")), 0.75) << what;
        }
    }
}

TEST(EditSession, AKillBetweenRecordsOrAtTheRenameLeavesTheFilesAsTheyWere) {
    struct Kill {
        t::Step step;
        const char* ending;
        int skip;
    };
    // The copy is the first write of the .dbf; records not next to each other
    // are written apart, one write each.
    for (Kill k : {Kill{t::Step::Write, ".dbf", 2}, Kill{t::Step::Fsync, ".dbf", 0}, Kill{t::Step::Rename, ".dbf", 0}}) {
        TempFolder tmp;
        std::string shp = makeLayer(tmp.path());
        FolderSnapshot before(tmp.path());
        korvane::test::ChildOutcome out = korvane::test::runInChild([&](std::string& why) {
            auto fc = FeatureClass::open(shp);
            t::killAt(k.step, k.ending, k.skip);
            EditSession edit(*fc);
            setRatios(*fc, true);
            edit.commit();
            why = "the run was not killed";
            return 1;
        });
        EXPECT_FALSE(out.exited) << out.message;
        EXPECT_EQ(out.signal, SIGKILL);
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        // The layer opens as it was.
        EXPECT_TRUE(isNull(FeatureClass::open(shp)->row(0)->value("Ratio")));
    }
}

TEST(EditSession, AFullDiskLeavesTheFilesAsTheyWere) {
    // No room for the working copy, or room for it but not for its new field.
    for (std::uint64_t leaveFree : {0, 4096}) {
    TempFolder tmp;
    const stdfs::path dir = tmp.file("disk");
    korvane::test::ChildOutcome out = korvane::test::runOnFullDisk(dir, 256 * 1024, [&](std::string& why) {
        std::string shp = makeLayer((dir / "layer").string());
        auto fc = FeatureClass::open(shp);
        FolderSnapshot before(dir / "layer");
        korvane::test::fillDisk(dir, leaveFree);
        try {
            EditSession edit(*fc);
            fc->addField({"Extra", FieldString, 200, 0, 0});
            setRatios(*fc);
            edit.commit();
            why = "the run reported success on a full disk";
            return 1;
        } catch (const Failure&) {
        }
        if (!before.sameAsNow()) {
            why = before.differences();
            return 2;
        }
        if (!korvane::test::temporariesIn(dir / "layer").empty()) {
            why = "temporaries left";
            return 3;
        }
        return 0;
    });
    if (out.skipped) GTEST_SKIP() << out.message;
    EXPECT_TRUE(out.exited && out.code == 0) << leaveFree << ": " << out.message;
    }
}

TEST(EditSession, ReadOnlyOrImmutableFilesAreRefusedBeforeAnyWrite) {
    for (bool immutable : {false, true}) {
        TempFolder tmp;
        std::string shp = makeLayer(tmp.path());
        std::optional<korvane::test::ImmutableFile> locked;
        if (immutable) {
            locked.emplace(tmp.file("t.dbf"));
            if (!locked->active()) continue;  // the file system or the user cannot lock files
        } else {
            korvane::test::setReadOnly(tmp.file("t.dbf"), true);
        }
        auto fc = FeatureClass::open(shp);
        FolderSnapshot before(tmp.path());
        try {
            EditSession edit(*fc);
            setRatios(*fc);
            edit.commit();
            ADD_FAILURE() << "protected files were changed, immutable: " << immutable;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::HostAccessDenied);
            EXPECT_NE(f.description().find("read-only"), std::string::npos) << f.description();
        }
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(tmp.path()).empty());
        if (!immutable) korvane::test::setReadOnly(tmp.file("t.dbf"), false);
    }
}

TEST(EditSession, AJoinedSessionThatEndsWithoutItsCommitSpoilsTheOuterOne) {
    TempFolder tmp;
    std::string shp = makeLayer(tmp.path());
    auto fc = FeatureClass::open(shp);
    FolderSnapshot before(tmp.path());
    EditSession outer(*fc);
    setRatios(*fc);
    {
        EditSession inner(*fc);
        fc->addField({"Extra", FieldInteger, 0, 6, 0});
    }
    EXPECT_THROW(outer.commit(), Failure);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_EQ(fc->findField("Extra"), -1);
    // Joined and committed, the inner session's changes go with the outer's.
    EditSession next(*fc);
    {
        EditSession inner(*fc);
        fc->addField({"Extra", FieldInteger, 0, 6, 0});
        inner.commit();
    }
    EXPECT_TRUE(before.sameAsNow());
    next.commit();
    EXPECT_GE(FeatureClass::open(shp)->findField("Extra"), 0);
    EXPECT_TRUE(korvane::test::temporariesIn(tmp.path()).empty());
}
