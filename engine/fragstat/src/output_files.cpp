// The output files are replaced, never rewritten in place:
//  1. the output folder is locked (flock), so that two runs on one base in
//     the same folder take turns and both land their rows;
//  2. under the lock each file's new text (old text plus the new rows) is
//     written whole under a temporary name in the same folder, synced and
//     closed with every error checked;
//  3. each existing file gets a second name (a hard link, or a copy of its
//     bytes where links are refused) to restore it from;
//  4. the temporaries are renamed over the targets; a failure there renames
//     the kept old files back, so the folder holds what it held before;
//  5. the extra names are removed and the folder is synced.
// A run killed at any moment leaves each target either old or new, whole,
// and at most files named `<file>.kvtmp-<pid>-<n>` beside it.
#include "output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

#include "fragstat/fragstat.h"
#include "text.h"

namespace korvane::fragstat {
namespace {

namespace fs = std::filesystem;

WriteFaultHook& hook() {
    static WriteFaultHook h;
    return h;
}

// errno of the step: the hook's choice first, then the call's own.
int injected(WriteStep step, const fs::path& target) {
    if (const auto& h = hook()) return h(step, target.string());
    return 0;
}

[[noreturn]] void fail(const fs::path& target, const char* what, int err) {
    throw InputError(fmt::format("cannot write the output file '{}': {} failed: {}", target.string(), what,
                                 std::strerror(err)));
}

std::atomic<unsigned> g_sequence{0};

// A fresh name beside `target` that no other run uses.
fs::path temporary_name(const fs::path& target) {
    fs::path p = target;
    p += fmt::format(".kvtmp-{}-{}", ::getpid(), g_sequence.fetch_add(1));
    return p;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() {
        const int f = fd_;
        fd_ = -1;
        return f;
    }

private:
    int fd_;
};

// Writes `content` whole to a new file `tmp` (created exclusively), synced
// and closed; `mode`: the permission bits to give it, when known.
void write_new_file(const fs::path& target, const fs::path& tmp, const std::string& content,
                    std::optional<mode_t> mode) {
    if (int e = injected(WriteStep::Open, target)) fail(target, "open", e);
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) fail(target, "open", errno);
    if (mode && ::fchmod(fd.get(), *mode) != 0) fail(target, "chmod", errno);
    size_t done = 0;
    while (done < content.size()) {
        if (int e = injected(WriteStep::Write, target)) fail(target, "write", e);
        const ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(target, "write", errno);
        }
        done += static_cast<size_t>(n);
    }
    if (int e = injected(WriteStep::Sync, target)) fail(target, "fsync", e);
    if (::fsync(fd.get()) != 0) fail(target, "fsync", errno);
    if (int e = injected(WriteStep::Close, target)) fail(target, "close", e);
    if (::close(fd.release()) != 0) fail(target, "close", errno);
}

struct Slot {
    fs::path target, tmp, backup;
    bool existed = false, placed = false, tmp_made = false, backup_made = false;
};

}  // namespace

void set_write_fault_hook(WriteFaultHook h) { hook() = std::move(h); }

namespace detail {
namespace {

// New records go after what the file already holds; a file that does not
// start with the same header gets the header again, so a reader that starts
// a fresh column map at every header line reads both parts right.
std::string file_text(const OutputFile& f, const std::optional<std::string>& old) {
    std::string out = old.value_or(std::string());
    if (!out.empty() && out.back() != '\n') out += '\n';
    const std::string first = out.substr(0, out.find('\n'));
    if (text::trim(first) != f.header) out += f.header + '\n';
    for (const auto& l : f.lines) out += l + '\n';
    return out;
}

}  // namespace

void write_all(const std::vector<OutputFile>& files) {
    if (files.empty()) return;
    // 1. The folder lock, held until every file is in place.
    fs::path folder = files.front().path.parent_path();
    if (folder.empty()) folder = ".";
    if (int e = injected(WriteStep::Lock, files.front().path)) fail(files.front().path, "lock", e);
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) fail(files.front().path, "opening its folder", errno);
    while (::flock(dir.get(), LOCK_EX) != 0)
        if (errno != EINTR) fail(files.front().path, "lock", errno);

    std::vector<Slot> slots(files.size());
    auto clean_up = [&]() {
        for (auto& s : slots) {
            if (s.tmp_made) ::unlink(s.tmp.c_str());
            if (s.backup_made) ::unlink(s.backup.c_str());
        }
    };
    try {
        // 2. The new texts under temporary names.
        std::vector<std::optional<std::string>> old(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            Slot& s = slots[i];
            s.target = files[i].path;
            struct stat st {};
            std::optional<mode_t> mode;
            if (::stat(s.target.c_str(), &st) == 0) {
                s.existed = true;
                mode = st.st_mode & 07777;
                old[i] = text::read_file(s.target);
                if (!old[i]) throw InputError(fmt::format("cannot read the existing output file '{}'", s.target.string()));
            } else if (errno != ENOENT) {
                fail(s.target, "stat", errno);
            }
            s.tmp = temporary_name(s.target);
            s.tmp_made = true;  // from here on it may exist
            write_new_file(s.target, s.tmp, file_text(files[i], old[i]), mode);
        }
        // 3. A second name for every file that is about to be replaced.
        for (size_t i = 0; i < files.size(); ++i) {
            Slot& s = slots[i];
            if (!s.existed) continue;
            s.backup = temporary_name(s.target);
            s.backup_made = true;
            int e = injected(WriteStep::Backup, s.target);
            if (e == 0 && ::link(s.target.c_str(), s.backup.c_str()) != 0) e = errno;
            if (e == EPERM || e == EXDEV || e == EMLINK || e == ENOTSUP || e == EOPNOTSUPP) {
                struct stat st {};
                std::optional<mode_t> mode;
                if (::stat(s.target.c_str(), &st) == 0) mode = st.st_mode & 07777;
                write_new_file(s.target, s.backup, *old[i], mode);
            } else if (e != 0) {
                fail(s.target, "keeping the old file", e);
            }
        }
        // 4. Renames; a failure puts the old files back.
        for (size_t i = 0; i < files.size(); ++i) {
            Slot& s = slots[i];
            int e = injected(WriteStep::Rename, s.target);
            if (e == 0 && ::rename(s.tmp.c_str(), s.target.c_str()) != 0) e = errno;
            if (e != 0) {
                std::string lost;
                for (size_t j = 0; j < i; ++j) {
                    Slot& p = slots[j];
                    int r = injected(WriteStep::Restore, p.target);
                    if (p.existed) {
                        if (r == 0 && ::rename(p.backup.c_str(), p.target.c_str()) != 0) r = errno;
                        if (r == 0) p.backup_made = false;
                    } else if (r == 0 && ::unlink(p.target.c_str()) != 0) {
                        r = errno;
                    }
                    if (r != 0) {
                        p.backup_made = false;  // keep it: it is the only copy of the old file
                        lost += fmt::format("; the old '{}' is kept as '{}'", p.target.string(),
                                            p.existed ? p.backup.string() : std::string("(none)"));
                    }
                }
                clean_up();
                throw InputError(fmt::format("cannot write the output file '{}': rename failed: {}{}",
                                             s.target.string(), std::strerror(e), lost));
            }
            s.tmp_made = false;
            s.placed = true;
        }
        // 5. Done: the extra names go, the folder's entries reach the disk.
        clean_up();
        ::fsync(dir.get());
    } catch (...) {
        clean_up();
        throw;
    }
}

}  // namespace detail
}  // namespace korvane::fragstat
