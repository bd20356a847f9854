#include "host/data/ReadOnlyWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <unordered_map>

#include "host/data/TableImpl.h"

namespace korvane::host::data {

namespace {

// One inotify instance for the process; each watch counts its events.
class Watcher {
public:
    static Watcher& instance() {
        static Watcher w;
        return w;
    }

    std::mutex mutex;

    bool usable() const { return fd_ >= 0; }
    uint64_t overflows() const { return overflows_; }
    uint64_t generation(int wd) const {
        auto it = generations_.find(wd);
        return it == generations_.end() ? 0 : it->second;
    }

    // Reads the events queued so far.
    void drain() {
        if (fd_ < 0) return;
        alignas(inotify_event) char buf[8192];
        for (;;) {
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            for (char* p = buf; p < buf + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                if (e->mask & IN_Q_OVERFLOW)
                    ++overflows_;
                else
                    ++generations_[e->wd];
                p += sizeof(inotify_event) + e->len;
            }
        }
    }

    // A watch on the path; -1 when there can be none.
    int watch(const std::string& path, bool folder) {
        if (fd_ < 0) return -1;
        uint32_t mask = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
        if (folder) mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        return ::inotify_add_watch(fd_, path.c_str(), mask);
    }

private:
    Watcher() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    int fd_ = -1;
    uint64_t overflows_ = 0;
    std::unordered_map<int, uint64_t> generations_;
};

}  // namespace

bool ReadOnlyWatch::readOnly(const std::string& folder, const std::string& base) {
    Watcher& w = Watcher::instance();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (!w.usable()) return anyReadOnly(base);
    w.drain();
    if (valid_ && w.overflows() == overflows_) {
        bool same = true;
        for (const Mark& m : marks_) same = same && w.generation(m.wd) == m.generation;
        if (same) return value_;
    }
    // Watches first, then the check: a change after this point is reported.
    valid_ = true;
    marks_.clear();
    overflows_ = w.overflows();
    auto add = [&](const std::string& path, bool isFolder) {
        int wd = w.watch(path, isFolder);
        if (wd >= 0)
            marks_.push_back({wd, w.generation(wd)});
        else if (isFolder || errno != ENOENT)
            valid_ = false;  // cannot watch: check every time
    };
    add(folder, true);
    for (const char* ext : {".shp", ".shx", ".dbf"}) add(base + ext, false);
    value_ = anyReadOnly(base);
    return value_;
}

}  // namespace korvane::host::data
