#pragma once
// Shared helpers for tests that inject failures into writes of a user's
// files: snapshots of a folder to prove it byte-identical afterwards, forked
// children (a kill, a file-size limit, a full disk in a private mount), and
// an immutable file. Link `korvane_test_support`.
//
// The usual shape of such a test:
//
//     FolderSnapshot before(dir);
//     ChildOutcome out = runOnFullDisk(dir, 16 * 1024, [&](std::string& why) { ...; return 0; });
//     if (out.skipped) GTEST_SKIP() << out.message;
//     EXPECT_TRUE(before.sameAsNow()) << before.differences();
//
// The body of a child returns 0 when its checks passed, or a non-zero code
// with a reason in `why`; the parent sees the code, the reason, or the signal
// that ended the child.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace korvane::test {

// The bytes of every file of a folder (not below it) whose name is not a
// Korvane temporary, taken when it is made.
class FolderSnapshot {
public:
    explicit FolderSnapshot(std::filesystem::path folder);
    // True when the folder holds the same unmarked files with the same bytes.
    bool sameAsNow() const;
    // What differs, one line per file, for a failure message.
    std::string differences() const;
    const std::map<std::string, std::string>& files() const { return files_; }

    static std::map<std::string, std::string> read(const std::filesystem::path& folder);

private:
    std::filesystem::path folder_;
    std::map<std::string, std::string> files_;
};

// The names of the Korvane temporaries a folder holds.
std::vector<std::string> temporariesIn(const std::filesystem::path& folder);

struct ChildOutcome {
    bool exited = false;   // ended by returning or exit(): see code
    int code = -1;
    int signal = 0;        // the signal that ended it, when not exited
    bool skipped = false;  // the child could not set up what the test needs: see message
    std::string message;   // what the body put in its `why`
};

using ChildBody = std::function<int(std::string& why)>;

// Exit code of a child whose set-up was refused (mount, limit): the test is
// skipped with the child's reason.
inline constexpr int kChildSkipped = 77;

// Runs `body` in a forked child and waits for it.
ChildOutcome runInChild(const ChildBody& body);

// Runs `body` in a forked child whose files may grow to `bytes` bytes at most
// (RLIMIT_FSIZE, SIGXFSZ ignored, so a write past it fails with EFBIG).
ChildOutcome runWithFileSizeLimit(std::uint64_t bytes, const ChildBody& body);

// Runs `body` in a forked child in a mount namespace of its own, where
// `folder` (made if missing) is a fresh tmpfs of `bytes` bytes; the mount
// ends with the child. The body fills it with what the test needs. Skipped
// (with the reason) where the mount is refused.
ChildOutcome runOnFullDisk(const std::filesystem::path& folder, std::uint64_t bytes, const ChildBody& body);

// Fills the file system of `folder` with a filler file until a write fails;
// returns the bytes written.
std::uint64_t fillDisk(const std::filesystem::path& folder, std::uint64_t leaveFree = 0);

// Marks a file immutable (chattr +i) while the object lives. `active()` is
// false where the file system or the user cannot do it.
class ImmutableFile {
public:
    explicit ImmutableFile(std::filesystem::path file);
    ~ImmutableFile();
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;
    bool active() const { return active_; }
    const std::string& reason() const { return reason_; }

private:
    std::filesystem::path file_;
    bool active_ = false;
    std::string reason_;
};

// The failures a run that writes a user's files meets part-way, each set
// through the host's test hooks for the files ending `ending` (undone by
// korvane::host::testing::clearFaults): a write after the first (the first
// makes the working copy), a close, a rename.
struct PartWayFailure {
    const char* name;
    std::function<void()> inject;
};
std::vector<PartWayFailure> partWayFailures(const std::string& ending = ".dbf");

// A text for a child outcome, for a failure message.
std::string describe(const ChildOutcome& o);

// Copies every file of `from` (not below it) into `to`.
void copyFolderFiles(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace korvane::test
