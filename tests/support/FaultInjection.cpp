#include "FaultInjection.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "host/FileReplace.h"

namespace korvane::test {

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs `setup` then `body` in a forked child; the reason text comes back
// through a pipe.
ChildOutcome forked(const std::function<bool(std::string&)>& setup, const ChildBody& body) {
    ChildOutcome out;
    int fds[2];
    if (::pipe(fds) != 0) {
        out.message = std::string("pipe: ") + std::strerror(errno);
        return out;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        out.message = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return out;
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::string why;
        int code = 0;
        try {
            if (setup && !setup(why))
                code = kChildSkipped;
            else
                code = body(why);
        } catch (const std::exception& e) {
            why = std::string("uncaught exception: ") + e.what();
            code = 99;
        } catch (...) {
            why = "uncaught exception";
            code = 99;
        }
        size_t off = 0;
        while (off < why.size()) {
            ssize_t n = ::write(fds[1], why.data() + off, why.size() - off);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        ::close(fds[1]);
        ::_exit(code);   // no atexit handlers, no flush of the parent's buffers
    }
    ::close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.message.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        out.exited = true;
        out.code = WEXITSTATUS(status);
        out.skipped = out.code == kChildSkipped;
    } else if (WIFSIGNALED(status)) {
        out.signal = WTERMSIG(status);
    }
    return out;
}

}  // namespace

FolderSnapshot::FolderSnapshot(fs::path folder) : folder_(std::move(folder)), files_(read(folder_)) {}

std::map<std::string, std::string> FolderSnapshot::read(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        if (!e.is_regular_file() || korvane::host::isKorvaneTemporary(e.path())) continue;
        files[e.path().filename().string()] = slurp(e.path());
    }
    return files;
}

bool FolderSnapshot::sameAsNow() const { return read(folder_) == files_; }

std::string FolderSnapshot::differences() const {
    std::ostringstream out;
    auto now = read(folder_);
    for (const auto& [name, bytes] : files_) {
        auto it = now.find(name);
        if (it == now.end())
            out << name << ": gone\n";
        else if (it->second != bytes)
            out << name << ": changed (" << bytes.size() << " bytes before, " << it->second.size() << " now)\n";
    }
    for (const auto& [name, bytes] : now)
        if (!files_.count(name)) out << name << ": new, unmarked\n";
    return out.str();
}

std::vector<std::string> temporariesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (korvane::host::isKorvaneTemporary(e.path())) names.push_back(e.path().filename().string());
    return names;
}

ChildOutcome runInChild(const ChildBody& body) { return forked(nullptr, body); }

ChildOutcome runWithFileSizeLimit(std::uint64_t bytes, const ChildBody& body) {
    return forked(
        [bytes](std::string& why) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim;
            if (::getrlimit(RLIMIT_FSIZE, &lim) != 0) {
                why = std::string("getrlimit: ") + std::strerror(errno);
                return false;
            }
            lim.rlim_cur = bytes;
            if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) {
                why = std::string("setrlimit refused: ") + std::strerror(errno);
                return false;
            }
            return true;
        },
        body);
}

ChildOutcome runOnFullDisk(const fs::path& folder, std::uint64_t bytes, const ChildBody& body) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    return forked(
        [folder, bytes](std::string& why) {
            if (::unshare(CLONE_NEWNS) != 0) {
                why = std::string("cannot make a mount namespace (unshare): ") + std::strerror(errno);
                return false;
            }
            // Mounts made here must not propagate to the parent's namespace.
            if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                why = std::string("cannot make / private: ") + std::strerror(errno);
                return false;
            }
            std::string opts = "size=" + std::to_string(bytes) + ",mode=0755";
            if (::mount("kvfull", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, opts.c_str()) != 0) {
                why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
                return false;
            }
            return true;
        },
        body);
}

std::uint64_t fillDisk(const fs::path& folder, std::uint64_t leaveFree) {
    fs::path filler = folder / "filler";
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    std::string block(512, 'f');
    std::uint64_t total = 0;
    for (;;) {
        ssize_t n = ::write(fd, block.data(), block.size());
        if (n <= 0) break;
        total += static_cast<std::uint64_t>(n);
    }
    if (leaveFree > 0 && total > 0) {
        std::uint64_t keep = total > leaveFree ? total - leaveFree : 0;
        if (::ftruncate(fd, static_cast<off_t>(keep)) == 0) total = keep;
    }
    ::close(fd);
    return total;
}

ImmutableFile::ImmutableFile(fs::path file) : file_(std::move(file)) {
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason_ = std::string("cannot open: ") + std::strerror(errno);
        return;
    }
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        reason_ = std::string("file flags not supported: ") + std::strerror(errno);
    } else {
        flags |= FS_IMMUTABLE_FL;
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0)
            reason_ = std::string("cannot make the file immutable: ") + std::strerror(errno);
        else
            active_ = true;
    }
    ::close(fd);
}

ImmutableFile::~ImmutableFile() {
    if (!active_) return;
    int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
}

std::string describe(const ChildOutcome& o) {
    std::ostringstream out;
    if (o.exited)
        out << "child exited with " << o.code;
    else if (o.signal)
        out << "child ended by signal " << o.signal << " (" << strsignal(o.signal) << ")";
    else
        out << "child did not run";
    if (!o.message.empty()) out << ": " << o.message;
    return out.str();
}

void copyFolderFiles(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from))
        if (e.is_regular_file()) fs::copy_file(e.path(), to / e.path().filename(), fs::copy_options::overwrite_existing);
}

std::vector<PartWayFailure> partWayFailures(const std::string& ending) {
    namespace t = korvane::host::testing;
    return {
        {"a write part-way", [ending] { t::failAt(t::Step::Write, EIO, ending, 1); }},
        {"a full disk part-way", [ending] { t::failAt(t::Step::Write, ENOSPC, ending, 1); }},
        {"the close", [ending] { t::failAt(t::Step::Close, EIO, ending); }},
        {"the rename", [ending] { t::failAt(t::Step::Rename, EIO, ending); }},
    };
}

}  // namespace korvane::test
