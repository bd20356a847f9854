// Edit sessions: a run's changes to a table made in a working copy of its
// files, which replaces them whole at the end.
//
// The working copy is a dataset of its own under the marked temporary names
// of one FileReplacement: its .dbf a copy of the table's, its .cpg (which
// tells the driver the text encoding) a copy too. Its .shp and .shx are at
// first links to the originals, so that a run that changes attributes only
// does not copy the shapes: the driver opens them for reading, and the
// dBASE writer changes the working .dbf. Before the shapes are written (the
// driver stores a row with its shape or changes the fields its own way, or
// the appender adds rows), the links become copies, which the commit then renames over the originals too
// when they changed (all three or none of them).
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "host/Failure.h"
#include "host/data/GdalSupport.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "EditSession";

bool present(const stdfs::path& p) {
    std::error_code ec;
    return stdfs::exists(p, ec);
}

// Whether the two files hold the same bytes.
bool sameBytes(const stdfs::path& a, const stdfs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y) return false;
    std::vector<char> p(size_t{1} << 20), q(p.size());
    for (;;) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin())) return false;
        if (x.gcount() == 0 || x.eof() || y.eof()) return x.eof() == y.eof() && x.gcount() == y.gcount();
    }
}

}  // namespace

std::string Table::Impl::workingBase() const { return edit ? edit->base : base; }
std::string Table::Impl::workingPath() const { return edit ? edit->path : path; }

void Table::Impl::beginEdit(const char* source) {
    if (edit) {
        ++edit->depth;
        return;
    }
    prepareWrite(source);
    // Everything written so far is in the files, and the driver lets go of them.
    flushRecords();
    releaseDataset();

    auto e = std::make_unique<Edit>();
    std::vector<stdfs::path> targets;
    if (featureClass) targets = {path, base + ".shx"};
    targets.push_back(base + ".dbf");
    e->files = std::make_unique<FileReplacement>(targets);
    e->files->checkDatasets();
    const FileReplacement& files = *e->files;
    // The driver finds a dataset's files by their common name.
    const stdfs::path main = files.temporary(0);
    e->base = (main.parent_path() / main.stem()).string();
    e->path = main.string();
    for (size_t i = 0; i < files.size(); ++i) {
        const stdfs::path& t = files.temporary(i);
        if ((t.parent_path() / t.stem()).string() != e->base)
            fail(err::HostGeneric, source, "Cannot change " + name + ": its files are not in one folder.");
    }
    data::copyFileInto(base + ".dbf", files.temporary(files.size() - 1));
    for (const char* ext : {".cpg", ".CPG"})
        if (present(base + ext)) data::copyFileInto(base + ext, e->base + ext);
    if (featureClass) {
        bool linked = true;
        for (size_t i = 0; i < 2 && linked; ++i)
            if (present(files.target(i)))
                linked = ::symlink(files.target(i).filename().c_str(), files.temporary(i).c_str()) == 0;
        if (!linked) {
            // Where links cannot be made, the shapes are copied at once.
            for (size_t i = 0; i < 2; ++i) {
                ::unlink(files.temporary(i).c_str());
                if (present(files.target(i))) data::copyFileInto(files.target(i), files.temporary(i));
            }
            e->ownShapes = true;
        }
    }
    e->fields = fields;
    e->types = data::datasetTypes(base + ".dbf");
    e->deletedKnown = deletedKnown;
    e->deletedThisSession = deletedThisSession;
    e->deleted = deleted;
    e->deletedIds = deletedIds;
    edit = std::move(e);
    update = !featureClass || edit->ownShapes;
}

void Table::Impl::readyForDriverWrite(const char* source) {
    if (!edit || !featureClass || edit->ownShapes) return;
    flushRecords();
    releaseDataset();
    const FileReplacement& files = *edit->files;
    for (size_t i = 0; i < 2; ++i) {
        ::unlink(files.temporary(i).c_str());  // the link, not what it points to
        if (present(files.target(i))) data::copyFileInto(files.target(i), files.temporary(i));
    }
    edit->ownShapes = true;
    update = true;
    lyr(source);
}

void Table::Impl::commitEdit(const char* source) {
    if (!edit) fail(err::HostInvalidArg, source, "There are no changes of " + name + " to put in place.");
    if (edit->depth > 1) {
        --edit->depth;
        return;
    }
    if (edit->spoiled) fail(err::HostGeneric, source, "The changes to " + name + " were not written: a part of the run failed.");
    if (closed) fail(err::HostGeneric, source, "The dataset " + name + " has been closed or deleted.");
    // The working copy whole in its files, then the driver lets go of it.
    if (appender) finishAppending();
    flushRecords();
    if (layer && update) {
        gdal::ErrorTrap trap;
        if (layer->SyncToDisk() != OGRERR_NONE || trap.failed())
            fail(err::HostGeneric, source, gdal::describe("Cannot write " + name, trap));
    }
    releaseDataset();
    FileReplacement& files = *edit->files;
    // Shapes the driver wrote as they were stay out: then only the .dbf is
    // replaced, in one rename.
    if (featureClass)
        for (size_t i = 0; i < 2; ++i)
            if (!edit->ownShapes || sameBytes(files.temporary(i), files.target(i))) ::unlink(files.temporary(i).c_str());
    if (files.leaveOutUnwritten().size() > 1) files.keepTogether();
    files.commit();
    edit.reset();
    update = true;
    readOnly.reset();
}

void Table::Impl::abandonEdit() noexcept {
    if (!edit) return;
    if (edit->depth > 1) {
        --edit->depth;
        edit->spoiled = true;
        return;
    }
    try {
        appender.reset();
        records.reset();
        releaseDataset();
    } catch (...) {
    }
    try {
        data::restoreDatasetTypes(base + ".dbf", edit->types);
    } catch (...) {
    }
    fields = std::move(edit->fields);
    deletedKnown = edit->deletedKnown;
    deletedThisSession = edit->deletedThisSession;
    deleted = edit->deleted;
    deletedIds = std::move(edit->deletedIds);
    edit.reset();
    update = true;
    readOnly.reset();
}

// ---- EditSession ----------------------------------------------------------------

EditSession::EditSession(Table& table) : table_(table.shared_from_this()) {
    TableAccess::impl(*table_).beginEdit(kSource);
}

EditSession::~EditSession() {
    if (!done_) TableAccess::impl(*table_).abandonEdit();
}

void EditSession::commit() {
    if (done_) return;
    done_ = true;
    auto& t = TableAccess::impl(*table_);
    try {
        t.commitEdit(kSource);
    } catch (...) {
        t.abandonEdit();
        throw;
    }
}

}  // namespace korvane::host
