#pragma once
// Whether a dataset's files are read-only, for the check before each write:
// the answer is kept until the kernel reports a change that could alter it
// (permissions or owner of the files, a file created, moved or removed in
// their folder). Where nothing can be watched, every call checks the files.
// Internal to the data layer.
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::host::data {

class ReadOnlyWatch {
public:
    // The same answer as anyReadOnly(base) for the dataset base (folder/name).
    bool readOnly(const std::string& folder, const std::string& base);
    // Forget the answer (the next call checks the files).
    void reset() { valid_ = false; }

private:
    struct Mark {
        int wd;
        uint64_t generation;
    };
    bool valid_ = false;
    bool value_ = false;
    uint64_t overflows_ = 0;
    std::vector<Mark> marks_;
};

}  // namespace korvane::host::data
