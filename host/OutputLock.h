#pragma once
// One run at a time on an output table (or folder).
//
// A run that reads an output table to write a new version of it (the rows it
// copies, the largest run number) holds an OutputLock on it from that first
// read to its commit. The lock is an exclusive flock on a lock file of its
// own beside the output, `<file>.kvtmp-lock` (marked as Korvane's, like the
// temporaries), because a lock on the output itself would be lost when its
// new version is renamed over it. A second run waits for the first, saying so
// on standard error, and then reads the output anew.
//
// Locks of one process on one output nest: an inner lock of a run that
// already holds it is taken at once.
#include <filesystem>

namespace korvane::host {

class OutputLock {
public:
    // Waits until the lock of `output` is this run's. Where no lock file can
    // be made (a folder this user may not write), no run can write there
    // either, and the lock is not taken.
    explicit OutputLock(const std::filesystem::path& output);
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // The lock file of an output.
    static std::filesystem::path lockFileOf(const std::filesystem::path& output);

private:
    std::filesystem::path key_;
    int fd_ = -1;
    bool held_ = false;   // false for an inner lock or one that could not be taken
};

}  // namespace korvane::host
