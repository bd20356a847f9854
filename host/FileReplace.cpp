#include "host/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <optional>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

#include <fmt/format.h>

#include "host/Failure.h"

namespace korvane::host {

namespace data {
// host/data/Integrity.cpp: why a dataset's files disagree, if they do.
std::optional<std::string> datasetDamage(const std::string& base);
}  // namespace data

namespace stdfs = std::filesystem;

namespace {

constexpr std::string_view kMark = ".kvtmp-";

[[noreturn]] void refuse(const stdfs::path& target, int error, const std::string& what = {}) {
    int32_t number = (error == EACCES || error == EPERM || error == EROFS) ? err::PermissionDenied : err::HostGeneric;
    std::string why = what.empty() ? std::string(std::strerror(error)) : what;
    // A temporary that is itself replaced (a working copy) is named as the
    // user's file it stands for.
    noteFailedWrite(target);
    fail(number, "Korvane", "Cannot write " + fileOfTemporary(target).string() + ": " + withoutTemporaryNames(why) + ".");
}

std::mutex failedMutex;
std::vector<stdfs::path> failed;

// The extension of a file name in lower case.
std::string lowerExtension(const stdfs::path& p) {
    std::string ext = p.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// A fresh unique part: process, call and a random number, so that two runs
// (or two replacements of one run) never share a temporary.
std::string freshUnique() {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = [] {
        std::random_device rd;
        return static_cast<unsigned>(rd());
    }();
    unsigned n = ++counter;
    return fmt::format("{}-{}-{:08x}", static_cast<long>(::getpid()), n, salt ^ (n * 2654435761u));
}

stdfs::path markedName(const stdfs::path& target, const std::string& unique) {
    stdfs::path name = target.filename();
    std::string marked = name.stem().string() + std::string(kMark) + unique + name.extension().string();
    return target.parent_path() / marked;
}

// The name of the file a temporary stands for: the temporary's name without
// its marks (a temporary of a temporary has two).
std::string unmarkedName(const stdfs::path& p) {
    std::string name = p.filename().string();
    for (size_t at; (at = name.find(kMark)) != std::string::npos;) {
        size_t dot = name.find('.', at + kMark.size());
        name = name.substr(0, at) + (dot == std::string::npos ? std::string() : name.substr(dot));
    }
    return name;
}

// Resolves a link, so that the file it points to is replaced and the link
// stays.
stdfs::path resolved(const stdfs::path& target) {
    std::error_code ec;
    if (stdfs::is_symlink(stdfs::symlink_status(target, ec))) {
        stdfs::path real = stdfs::weakly_canonical(target, ec);
        if (!ec) return real;
    }
    return target;
}

void closeChecked(int fd, const stdfs::path& target, const stdfs::path& temp) {
    int injectedError = testing::injected(testing::Step::Close, temp);
    int rc = ::close(fd);
    if (injectedError) refuse(target, injectedError);
    if (rc != 0) refuse(target, errno);
}

// ---- the test hook ----------------------------------------------------------

struct Fault {
    testing::Step step;
    int error;  // 0 for a kill
    std::string ending;
    int skip;
};
std::mutex faultMutex;
std::vector<Fault> faults;
std::atomic<bool> anyFault{false};

}  // namespace

// ---- FileReplacement ----------------------------------------------------------

FileReplacement::FileReplacement(std::vector<stdfs::path> targets) {
    targets_.reserve(targets.size());
    for (const stdfs::path& t : targets) {
        if (t.filename().empty()) fail(err::InvalidCall, "Korvane", "Cannot replace " + t.string() + ": not a file.");
        targets_.push_back(resolved(t));
    }
    // One unique part for all the targets, taken by none of them.
    for (;;) {
        unique_ = freshUnique();
        bool free = true;
        for (const stdfs::path& t : targets_) {
            struct stat st;
            if (::lstat(markedName(t, unique_).c_str(), &st) == 0) free = false;
        }
        if (free) break;
    }
    for (const stdfs::path& t : targets_) temporaries_.push_back(markedName(t, unique_));
    named_ = temporaries_;
    renamed_.assign(targets_.size(), false);
}

FileReplacement::~FileReplacement() {
    // Every file left under one of this replacement's temporary stems, also a
    // sidecar a driver wrote beside a temporary.
    std::set<std::pair<stdfs::path, std::string>> stems;
    for (const stdfs::path& t : named_)
        stems.insert({t.parent_path(), t.filename().stem().string()});
    for (const auto& [folder, stem] : stems) {
        std::error_code ec;
        stdfs::directory_iterator it(folder.empty() ? stdfs::path(".") : folder, ec), end;
        std::vector<stdfs::path> leftovers;
        for (; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.size() > stem.size() && name.compare(0, stem.size(), stem) == 0 && name[stem.size()] == '.')
                leftovers.push_back(it->path());
            else if (name == stem)
                leftovers.push_back(it->path());
        }
        for (const stdfs::path& p : leftovers) ::unlink(p.c_str());
    }
}

const stdfs::path& FileReplacement::temporary(std::size_t i) const { return temporaries_.at(i); }
const stdfs::path& FileReplacement::target(std::size_t i) const { return targets_.at(i); }

std::vector<stdfs::path> FileReplacement::leaveOutUnwritten() {
    std::vector<stdfs::path> targets, temporaries;
    for (size_t i = 0; i < targets_.size(); ++i) {
        struct stat st;
        if (::lstat(temporaries_[i].c_str(), &st) != 0) continue;
        targets.push_back(targets_[i]);
        temporaries.push_back(temporaries_[i]);
    }
    targets_ = std::move(targets);
    temporaries_ = std::move(temporaries);
    renamed_.assign(targets_.size(), false);
    return targets_;
}

void FileReplacement::commit() {
    if (committed_) return;
    // Every temporary is complete and on the disk before any target changes.
    for (size_t i = 0; i < targets_.size(); ++i) {
        const stdfs::path& target = targets_[i];
        const stdfs::path& temp = temporaries_[i];
        struct stat tst;
        if (::lstat(temp.c_str(), &tst) != 0 || !S_ISREG(tst.st_mode))
            refuse(target, ENOENT, "its new version was not written");
        int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) refuse(target, errno);
        struct stat old;
        if (::stat(target.c_str(), &old) == 0) {
            if (::fchmod(fd, old.st_mode & 07777) != 0) {
                int e = errno;
                ::close(fd);
                refuse(target, e);
            }
            if ((old.st_uid != tst.st_uid || old.st_gid != tst.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0 &&
                errno != EPERM) {
                int e = errno;
                ::close(fd);
                refuse(target, e);
            }
        }
        int injectedError = testing::injected(testing::Step::Fsync, temp);
        if (injectedError || ::fsync(fd) != 0) {
            int e = injectedError ? injectedError : errno;
            ::close(fd);
            refuse(target, e);
        }
        closeChecked(fd, target, temp);
    }
    // A table or shapefile is put in place only whole: a driver that could
    // not write all of it does not always say so.
    std::set<stdfs::path> datasets;
    for (size_t i = 0; checkDatasets_ && i < targets_.size(); ++i) {
        std::string ext = lowerExtension(temporaries_[i]);
        if (ext == ".dbf" || ext == ".shp") {
            stdfs::path base = temporaries_[i];
            base.replace_extension();
            if (!datasets.insert(base).second) continue;
            if (auto damage = data::datasetDamage(base.string()))
                refuse(targets_[i], EIO, "its new version is incomplete (" + *damage + ")");
        }
    }
    // A target that this user may not write is not replaced behind its back.
    for (const stdfs::path& target : targets_) {
        struct stat old;
        if (::stat(target.c_str(), &old) == 0 && ::access(target.c_str(), W_OK) != 0) refuse(target, errno);
    }
    // Targets kept together keep their old versions under marked links
    // until every rename is made.
    std::vector<stdfs::path> old(targets_.size());
    if (together_) {
        for (size_t i = 0; i < targets_.size(); ++i) {
            stdfs::path link = markedName(targets_[i], unique_ + "-old");
            named_.push_back(link);
            if (::link(targets_[i].c_str(), link.c_str()) == 0) old[i] = link;
        }
    }
    std::set<stdfs::path> folders;
    for (size_t i = 0; i < targets_.size(); ++i) {
        const stdfs::path& target = targets_[i];
        int injectedError = testing::injected(testing::Step::Rename, temporaries_[i]);
        int error = injectedError ? injectedError : ::rename(temporaries_[i].c_str(), target.c_str()) != 0 ? errno : 0;
        if (error) {
            for (size_t j = i; together_ && j-- > 0;)
                if (!old[j].empty() && ::rename(old[j].c_str(), targets_[j].c_str()) == 0) renamed_[j] = false;
            refuse(target, error);
        }
        renamed_[i] = true;
        folders.insert(target.parent_path());
    }
    committed_ = true;
    // The renames themselves reach the disk with their folders.
    for (const stdfs::path& folder : folders) {
        int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd < 0) continue;
        ::fsync(dfd);
        ::close(dfd);
    }
}

// ---- helpers ----------------------------------------------------------------------

void writeAllTo(int fd, std::string_view bytes, const stdfs::path& file) {
    const stdfs::path target = file.parent_path() / unmarkedName(file);
    if (int e = testing::injected(testing::Step::Write, file)) refuse(target, e);
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            refuse(target, errno);
        }
        if (n == 0) refuse(target, ENOSPC);
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void replaceFileContents(const stdfs::path& target, std::string_view bytes) {
    FileReplacement r({target});
    const stdfs::path& temp = r.temporary(0);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) refuse(r.target(0), errno);
    try {
        writeAllTo(fd, bytes, temp);
    } catch (...) {
        ::close(fd);
        throw;
    }
    closeChecked(fd, r.target(0), temp);
    r.commit();
}

std::string withoutTemporaryNames(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0;;) {
        size_t mark = text.find(kMark, at);
        if (mark == std::string_view::npos) {
            out.append(text.substr(at));
            return out;
        }
        out.append(text.substr(at, mark - at));
        // The unique part: process, call, random number (and "-old", "lock").
        size_t end = mark + kMark.size();
        while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-')) ++end;
        at = end;
    }
}

void noteFailedWrite(const stdfs::path& file) {
    std::lock_guard<std::mutex> lock(failedMutex);
    failed.push_back(fileOfTemporary(file));
}

std::vector<stdfs::path> failedWrites() {
    std::lock_guard<std::mutex> lock(failedMutex);
    return failed;
}

void clearFailedWrites() {
    std::lock_guard<std::mutex> lock(failedMutex);
    failed.clear();
}

bool isKorvaneTemporary(const stdfs::path& p) {
    return p.filename().string().find(kMark) != std::string::npos;
}

stdfs::path fileOfTemporary(const stdfs::path& p) {
    return isKorvaneTemporary(p) ? p.parent_path() / unmarkedName(p) : p;
}

stdfs::path temporaryNameFor(const stdfs::path& target) {
    for (;;) {
        stdfs::path p = markedName(target, freshUnique());
        struct stat st;
        if (::lstat(p.c_str(), &st) != 0) return p;
    }
}

// ---- the test hook ------------------------------------------------------------------

namespace testing {

void failAt(Step step, int error, std::string fileEnding, int skip) {
    std::lock_guard<std::mutex> lock(faultMutex);
    faults.push_back({step, error == 0 ? EIO : error, std::move(fileEnding), skip});
    anyFault = true;
}

void killAt(Step step, std::string fileEnding, int skip) {
    std::lock_guard<std::mutex> lock(faultMutex);
    faults.push_back({step, 0, std::move(fileEnding), skip});
    anyFault = true;
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(faultMutex);
    faults.clear();
    anyFault = false;
}

int injected(Step step, const stdfs::path& file) {
    if (!anyFault) return 0;
    std::string name = unmarkedName(file);
    std::lock_guard<std::mutex> lock(faultMutex);
    for (Fault& f : faults) {
        if (f.step != step) continue;
        if (name.size() < f.ending.size() || name.compare(name.size() - f.ending.size(), f.ending.size(), f.ending) != 0)
            continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (f.error == 0) ::raise(SIGKILL);
        return f.error;
    }
    return 0;
}

}  // namespace testing

}  // namespace korvane::host
