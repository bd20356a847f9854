// korvane's map document: a save that fails at any step, or is killed, or
// meets a full disk or a file-size limit, leaves the stored document
// byte-identical and nothing but marked temporaries; a document of another
// version is refused; the table-of-contents selection comes back by position.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "FaultInjection.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "programs/korvane/DocumentFile.h"

namespace {

namespace fs = std::filesystem;
namespace h = korvane::host;
namespace ht = korvane::host::testing;
namespace kt = korvane::test;
using korvane::app::DocumentFile;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A document of n layers (no data behind them); two share the name "a".
h::DocumentPtr documentOf(int n) {
    auto doc = std::make_shared<h::Document>();
    for (int i = 0; i < n; ++i)
        doc->focusMap()->addLayer(std::make_shared<h::RegisteredLayer>(i % 2 ? "a" : "b" + std::to_string(i),
                                                                       "/data/l" + std::to_string(i) + ".shp",
                                                                       h::LayerKind::Feature));
    doc->focusMap()->setMapUnits(h::UnitMeters);
    return doc;
}

class DocumentSave : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kv-doc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        doc = (dir / "korvane-document.json").string();
        DocumentFile::save(*documentOf(2), doc);   // the stored document
    }
    void TearDown() override {
        ht::clearFaults();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::string doc;
};

TEST_F(DocumentSave, AFailingStepLeavesTheStoredDocumentAndNoTemporary) {
    const std::string stored = slurp(doc);
    const auto bigger = documentOf(5);
    for (ht::Step step : {ht::Step::Write, ht::Step::Fsync, ht::Step::Close, ht::Step::Rename})
        for (int error : {ENOSPC, EIO, EROFS, EACCES}) {
            kt::FolderSnapshot before(dir);
            ht::failAt(step, error, "korvane-document.json");
            try {
                DocumentFile::save(*bigger, doc);
                ADD_FAILURE() << "saved despite a failure at step " << static_cast<int>(step);
            } catch (const h::Failure& f) {
                EXPECT_NE(f.description().find("could not be saved"), std::string::npos) << f.description();
                EXPECT_NE(f.description().find("the stored one is kept"), std::string::npos) << f.description();
            }
            ht::clearFaults();
            EXPECT_TRUE(before.sameAsNow()) << before.differences();
            EXPECT_EQ(slurp(doc), stored);
            EXPECT_TRUE(kt::temporariesIn(dir).empty());
        }
    DocumentFile::save(*bigger, doc);   // and without a fault it is saved
    EXPECT_EQ(korvane::app::documentItems(*DocumentFile::load(doc, nullptr)).size(), 6u);
}

TEST_F(DocumentSave, AKilledSaveLeavesTheStoredDocumentWhole) {
    const std::string stored = slurp(doc);
    for (ht::Step step : {ht::Step::Write, ht::Step::Fsync, ht::Step::Close, ht::Step::Rename}) {
        kt::ChildOutcome out = kt::runInChild([&](std::string&) {
            ht::killAt(step, "korvane-document.json");
            DocumentFile::save(*documentOf(5), doc);
            return 0;
        });
        EXPECT_FALSE(out.exited) << kt::describe(out);
        EXPECT_EQ(slurp(doc), stored) << static_cast<int>(step);
        // Only marked temporaries may be left beside it.
        for (auto& e : fs::directory_iterator(dir))
            if (e.path() != doc) EXPECT_TRUE(h::isKorvaneTemporary(e.path())) << e.path();
        for (auto& e : fs::directory_iterator(dir))
            if (e.path() != doc) fs::remove(e.path());
    }
}

TEST_F(DocumentSave, AFullDiskOrAFileSizeLimitLeavesTheStoredDocument) {
    const std::string stored = slurp(doc);
    const auto big = documentOf(400);   // some 40 KiB of JSON
    kt::ChildOutcome limited = kt::runWithFileSizeLimit(stored.size() + 100, [&](std::string& why) {
        try {
            DocumentFile::save(*big, doc);
        } catch (const h::Failure&) {
            return slurp(doc) == stored && kt::temporariesIn(dir).empty() ? 0 : (why = "the stored document changed", 1);
        }
        why = "saved past the file-size limit";
        return 1;
    });
    EXPECT_TRUE(limited.exited && limited.code == 0) << kt::describe(limited);

    const fs::path disk = dir / "disk";
    kt::ChildOutcome full = kt::runOnFullDisk(disk, 16 * 1024, [&](std::string& why) {
        const std::string onDisk = (disk / "korvane-document.json").string();
        DocumentFile::save(*documentOf(2), onDisk);
        const std::string before = slurp(onDisk);
        kt::fillDisk(disk);
        try {
            DocumentFile::save(*big, onDisk);
        } catch (const h::Failure&) {
            return slurp(onDisk) == before ? 0 : (why = "the stored document changed", 1);
        }
        why = "saved on a full disk";
        return 1;
    });
    if (full.skipped) GTEST_SKIP() << full.message;
    EXPECT_TRUE(full.exited && full.code == 0) << kt::describe(full);
}

TEST(DocumentLoad, OtherVersionsAndOtherFilesAreRefusedAndTheSelectionComesBackByPosition) {
    const fs::path dir = fs::temp_directory_path() / ("kv-doc-load-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "d.json").string();
    struct Case {
        const char* text;
        const char* message;
    } refused[] = {
        {R"({"korvaneDocument": 2, "maps": []})", "of version 2, which this korvane (version 1) does not read"},
        {R"({"korvaneDocument": "1", "maps": []})", "of version \"1\""},
        {R"({"maps": []})", "is not a Korvane map document"},
        {R"([1, 2])", "is not a Korvane map document"},
        {R"({"korvaneDocument": 1, )", "is not a Korvane map document"},
    };
    for (const Case& c : refused) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        try {
            DocumentFile::load(path, nullptr);
            ADD_FAILURE() << "read " << c.text;
        } catch (const h::Failure& f) {
            EXPECT_NE(f.description().find(c.message), std::string::npos) << f.description();
        }
        EXPECT_EQ(slurp(path), c.text);
    }

    // The second of two layers named "a" stays the selected one.
    auto doc = documentOf(4);   // top first: a, b2, a, b0
    auto layers = doc->focusMap()->allLayers();
    ASSERT_EQ(layers[2]->name(), "a");
    doc->setSelectedLayer(layers[2]);
    DocumentFile::save(*doc, path);
    auto back = DocumentFile::load(path, nullptr);
    ASSERT_TRUE(back->selectedLayer());
    EXPECT_EQ(back->selectedLayer()->path(), layers[2]->path());
    fs::remove_all(dir);
}

}  // namespace

namespace {

// A layer's field aliases come back with the document, and the change list
// shows them.
TEST_F(DocumentSave, FieldAliasesAreKept) {
    auto d = documentOf(1);
    d->focusMap()->layer(0)->setFieldAlias("MEAN", "MeanResponse");
    DocumentFile::save(*d, doc);
    auto back = DocumentFile::load(doc, nullptr);
    EXPECT_EQ(back->focusMap()->layer(0)->fieldAlias("MEAN"), "MeanResponse");
    EXPECT_EQ(back->focusMap()->layer(0)->fieldAlias("OTHER"), "OTHER");
    const auto items = korvane::app::documentItems(*back);
    EXPECT_NE(std::find(items.begin(), items.end(), "  alias MEAN = MeanResponse"), items.end());
}

}  // namespace

namespace {

// Lines a library keeps with the document come back as they were saved,
// bytes that are not UTF-8 included; a kept list that does not read is left
// out whole, and a document without any reads as none.
TEST_F(DocumentSave, KeptLinesComeBackByteForByte) {
    auto d = documentOf(1);
    const std::vector<std::string> lines = {"", "'Moose", "$1|[AGE] > 80", ";x|[NAME] = 'S\xe9verin'", "'\xc3\xa9lan", ""};
    d->setKeptLines("frmAttributeModelling.querySets", lines);
    d->setKeptLines("other", {});
    DocumentFile::save(*d, doc);
    auto back = DocumentFile::load(doc, {});
    ASSERT_TRUE(back->keptLines("frmAttributeModelling.querySets"));
    EXPECT_EQ(*back->keptLines("frmAttributeModelling.querySets"), lines);
    ASSERT_TRUE(back->keptLines("other"));
    EXPECT_TRUE(back->keptLines("other")->empty());
    EXPECT_FALSE(back->keptLines("missing"));
    // Saved again unchanged: the same bytes.
    const std::string first = slurp(doc);
    DocumentFile::save(*back, doc);
    EXPECT_EQ(slurp(doc), first);

    struct Case {
        const char* json;
        bool kept;
    } cases[] = {
        {R"({"korvaneDocument": 1, "maps": [], "kept": {"k": ["a", {"hex": "41e9"}]}})", true},
        {R"({"korvaneDocument": 1, "maps": [], "kept": {"k": ["a", {"hex": "4"}]}})", false},
        {R"({"korvaneDocument": 1, "maps": [], "kept": {"k": ["a", 3]}})", false},
        {R"({"korvaneDocument": 1, "maps": [], "kept": {"k": "a"}})", false},
        {R"({"korvaneDocument": 1, "maps": []})", false},
    };
    for (const Case& c : cases) {
        std::ofstream(doc, std::ios::binary | std::ios::trunc) << c.json;
        auto read = DocumentFile::load(doc, {});
        ASSERT_EQ(read->keptLines("k") != nullptr, c.kept) << c.json;
        if (c.kept) EXPECT_EQ(*read->keptLines("k"), (std::vector<std::string>{"a", "A\xe9"}));
    }
}

// What a command changed: an item added a second time (a table added to
// the map again under its name and path) is reported as the first one was.
TEST(DocumentChanges, ItemsCompareAsAMultiset) {
    using L = std::vector<std::string>;
    struct Case {
        L before, after, changes;
    } cases[] = {
        {{"table t (/o/t.dbf)", "map units Meters (9)"},
         {"table t (/o/t.dbf)", "table t (/o/t.dbf)", "map units Meters (9)"},
         {"+ table t (/o/t.dbf)"}},
        {{"table t (/o/t.dbf)", "table t (/o/t.dbf)"}, {"table t (/o/t.dbf)"}, {"- table t (/o/t.dbf)"}},
        {{"layer a (feature, /a.shp)"}, {"layer a (feature, /a.shp)"}, {}},
        {{"map units Unknown (0)"}, {"layer a (feature, /a.shp)", "map units Meters (9)"},
         {"+ layer a (feature, /a.shp)", "~ map units Meters (9)"}},
    };
    for (const Case& c : cases) EXPECT_EQ(korvane::app::documentChanges(c.before, c.after), c.changes);
}

}  // namespace
