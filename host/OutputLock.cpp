#include "host/OutputLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>

#include "host/Failure.h"
#include "host/Ui.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace data {
// host/data/OutputTable.cpp: closes this process's open table of `path`.
void closeCachedTable(const std::string& path);
}  // namespace data

namespace {

// The outputs this process holds, with how many locks of it are open.
std::mutex heldMutex;
std::map<stdfs::path, int> heldHere;

stdfs::path keyOf(const stdfs::path& output) {
    std::error_code ec;
    stdfs::path p = stdfs::weakly_canonical(stdfs::absolute(output, ec), ec);
    return ec ? output : p;
}

}  // namespace

stdfs::path OutputLock::lockFileOf(const stdfs::path& output) {
    stdfs::path p = output;
    if (p.filename().empty()) p = p.parent_path();
    return p.parent_path() / (p.filename().string() + ".kvtmp-lock");
}

OutputLock::OutputLock(const stdfs::path& output) : key_(keyOf(output)) {
    {
        std::lock_guard<std::mutex> guard(heldMutex);
        auto it = heldHere.find(key_);
        if (it != heldHere.end()) {
            ++it->second;
            return;
        }
    }
    const stdfs::path file = lockFileOf(key_);
    bool told = false;
    for (;;) {
        int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOENT) return;
            fail(err::HostGeneric, "Korvane", "Cannot lock " + key_.string() + ": " + std::strerror(errno) + ".");
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK) {
                ::close(fd);
                return;   // a file system without locks
            }
            if (!told) {
                std::cerr << "korvane: " << escapeControls(key_.string())
                          << " is being written by another run; waiting for it to finish.\n";
                told = true;
            }
            while (::flock(fd, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    ::close(fd);
                    return;
                }
            }
        }
        // The run before may have removed the lock file as it let go: a lock
        // on a file that is no longer there locks nothing.
        struct stat held, now;
        if (::fstat(fd, &held) == 0 && ::stat(file.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
            held.st_ino == now.st_ino) {
            fd_ = fd;
            break;
        }
        ::close(fd);
    }
    if (told) std::cerr << "korvane: the other run has finished; " << escapeControls(key_.string()) << " is read anew.\n";
    held_ = true;
    {
        std::lock_guard<std::mutex> guard(heldMutex);
        heldHere[key_] = 1;
    }
    // What this process read of the output before it held the lock may be
    // out of date: another run may have replaced it since.
    data::closeCachedTable(key_.string());
}

OutputLock::~OutputLock() {
    {
        std::lock_guard<std::mutex> guard(heldMutex);
        auto it = heldHere.find(key_);
        if (!held_) {
            if (it != heldHere.end()) --it->second;   // an inner lock
            return;
        }
        if (it != heldHere.end()) heldHere.erase(it);
    }
    // Removed while still held, so that a run waiting on this file tries again.
    ::unlink(lockFileOf(key_).c_str());
    ::close(fd_);
}

}  // namespace korvane::host
