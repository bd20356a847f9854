#pragma once
// The one way Korvane puts a new version of a user's file in place.
//
// Each target gets a marked temporary name in its own folder,
// `<stem>.kvtmp-<unique><ext>` (see isKorvaneTemporary), so that a killed run
// leaves nothing but files whose names say what they are. The caller writes
// the new file there whole, by whatever means (a GDAL driver, the dBASE
// writer, replaceFileContents); commit() then flushes and closes each
// temporary with every error checked and renames each over its target, one
// atomic rename per file, in the order given. An old file is never deleted
// first: a failure or a kill at any moment leaves each target either as it
// was or as its new version, whole.
//
//     FileReplacement r({dir / "t.shp", dir / "t.shx", dir / "t.dbf"});
//     writeTheShapefile(r.temporary(0));   // t.kvtmp-….shp, .shx and .dbf
//     r.commit();
//
// All the targets of one replacement share one unique part, so a driver that
// writes a dataset's sidecars beside its main file writes them under the
// other targets' temporary names. Every file the replacement's temporaries
// leave behind (also sidecars that were not targets, such as a `.cpg`) is
// removed when it is destroyed.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::host {

// Puts new versions of a set of files in place. Each target gets a marked
// temporary name in its own folder; the caller writes the new file there
// whole; commit() flushes (fsync) and closes each temporary with every error
// checked, then renames each over its target in the order given (sidecars
// first, a table's .dbf last). Old files are never deleted first.
//
// A replaced file keeps the old file's mode and owner. A target that is a
// symbolic link is replaced where the link points. A target that cannot be
// written (read-only to this user, immutable) is refused before the first
// rename, so a rename never bypasses a file's protection.
class FileReplacement {
public:
    explicit FileReplacement(std::vector<std::filesystem::path> targets);
    ~FileReplacement();                       // removes every temporary not renamed
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    const std::filesystem::path& temporary(std::size_t i) const;
    const std::filesystem::path& target(std::size_t i) const;   // as replaced (a link resolved)
    std::size_t size() const { return targets_.size(); }

    void commit();                            // throws Failure; targets not yet renamed stay as they were
    bool committed() const { return committed_; }

    // Makes commit() all or nothing across the targets, for files that only
    // make sense together: before the first rename each existing target is
    // linked under a marked name, and when a rename fails the targets already
    // renamed are put back from those links (a target that cannot be linked
    // cannot be put back). A kill between the renames still leaves the files
    // renamed so far in their new versions.
    void keepTogether() { together_ = true; }

    // Makes commit() check each new table or shapefile among the targets
    // (a .dbf or .shp) whole, with its sidecars, before anything is renamed:
    // a driver that could not write all of it does not always say so. Every
    // replacement of a dataset asks for it.
    void checkDatasets() { checkDatasets_ = true; }

    // Leaves out of commit() every target whose temporary was not written
    // (its old file, if any, stays): for a dataset whose writer makes some
    // sidecars only sometimes. Returns the targets that stay in.
    std::vector<std::filesystem::path> leaveOutUnwritten();

private:
    std::vector<std::filesystem::path> targets_;
    std::vector<std::filesystem::path> temporaries_;
    std::vector<std::filesystem::path> named_;   // every temporary name given, for the clean-up
    std::vector<bool> renamed_;
    std::string unique_;
    bool committed_ = false;
    bool together_ = false;
    bool checkDatasets_ = false;
};

// Whole-file replacement of one file's bytes through a FileReplacement.
void replaceFileContents(const std::filesystem::path& target, std::string_view bytes);

// True for names Korvane gives its temporaries (`*.kvtmp-*`).
bool isKorvaneTemporary(const std::filesystem::path& p);
// The file a temporary stands for, for messages (p itself when it is none).
std::filesystem::path fileOfTemporary(const std::filesystem::path& p);

// The marked temporary name for `name` in `folder` with a fresh unique part:
// for a file that is made under a temporary name and renamed to its own name
// later (a working copy), without a FileReplacement.
std::filesystem::path temporaryNameFor(const std::filesystem::path& target);

// `text` with every Korvane temporary name in it given as the name of the
// file it stands for ("Cannot write …/clip.kvtmp-4711-1-9c0e.tif" becomes
// "Cannot write …/clip.tif"): what the user sees names the user's files.
std::string withoutTemporaryNames(std::string_view text);

// A write of a user's file that failed (the file named as the user's). The
// program exits with a code of its own when a run recorded one.
void noteFailedWrite(const std::filesystem::path& file);
// The files whose writes failed since the last clearFailedWrites().
std::vector<std::filesystem::path> failedWrites();
void clearFailedWrites();

// Writes all of `bytes` to `fd` (the temporary `file`), with every error
// checked; throws Failure naming `file`. Writers of temporaries use it so
// that the test hook's write failures reach them.
void writeAllTo(int fd, std::string_view bytes, const std::filesystem::path& file);

namespace testing {

// The steps of a replacement at which a failure or a kill can be injected.
enum class Step { Write, Fsync, Close, Rename };

// Makes `step` fail with `error` (an errno value) for the next file whose
// target's name ends with `fileEnding` ("" matches every file), after
// `skip` matching calls have passed. Stays set until clearFaults().
void failAt(Step step, int error, std::string fileEnding = "", int skip = 0);
// Makes the process raise SIGKILL just before `step` for the matching file;
// for a forked child of a test.
void killAt(Step step, std::string fileEnding = "", int skip = 0);
void clearFaults();

// Called by the writers at each step, with the target's or temporary's path:
// raises SIGKILL for a kill set here, returns the errno to fail with, or 0.
int injected(Step step, const std::filesystem::path& file);

}  // namespace testing

}  // namespace korvane::host
