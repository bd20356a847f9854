#include "host/System.h"

#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/OutputLock.h"
#include "host/Ui.h"

extern char** environ;

namespace korvane::host {

namespace sfs = std::filesystem;

std::vector<std::string> splitCommandLine(const std::string& s) {
    std::vector<std::string> words;
    std::string cur;
    bool inQuotes = false, have = false;
    for (char c : s) {
        if (c == '"') {
            inQuotes = !inQuotes;
            have = true;
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            if (have) words.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) words.push_back(cur);
    return words;
}

namespace {
std::string& openerSetting() {
    static std::string opener = "xdg-open";
    return opener;
}

bool isExecutableFile(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

// The program's path: as given when it holds a slash, else looked up on PATH.
std::string findProgram(const std::string& word) {
    if (word.find('/') != std::string::npos) return isExecutableFile(word) ? word : std::string{};
    const char* path = std::getenv("PATH");
    std::stringstream ss(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(ss, dir, ':')) {
        auto candidate = (sfs::path(dir.empty() ? "." : dir) / word).string();
        if (isExecutableFile(candidate)) return candidate;
    }
    return {};
}

void reapChildren() {
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

int32_t waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) fail(err::HostGeneric, "Shell", "Lost track of a started program.");
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

pid_t start(const std::string& program, const std::vector<std::string>& args, const std::string& outputPath) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outputPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) fail(err::HostFileNotFound, "Shell", fmt::format("Cannot start {}: {}", program, std::strerror(rc)));
    return pid;
}

int32_t spawn(const std::string& program, const std::vector<std::string>& args, bool wait,
              const std::string& outputPath = {}) {
    const pid_t pid = start(program, args, outputPath);
    if (wait) return waitFor(pid);
    reapChildren();
    return 0;
}
}  // namespace

StartedProgram::StartedProgram(StartedProgram&& o) noexcept : pid_(std::exchange(o.pid_, -1)) {}

StartedProgram& StartedProgram::operator=(StartedProgram&& o) noexcept {
    if (this != &o) {
        stop();
        pid_ = std::exchange(o.pid_, -1);
    }
    return *this;
}

StartedProgram::~StartedProgram() { stop(); }

void StartedProgram::stop() noexcept {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

int32_t StartedProgram::wait() {
    if (pid_ <= 0) fail(err::HostGeneric, "Shell", "No started program to wait for.");
    const pid_t pid = std::exchange(pid_, -1);
    return waitFor(pid);
}

void Shell::setOpener(std::string program) { openerSetting() = std::move(program); }
const std::string& Shell::opener() { return openerSetting(); }

int32_t Shell::Run(const std::string& commandLine, int32_t /*windowStyle*/, bool wait) {
    auto words = splitCommandLine(commandLine);
    if (words.empty()) fail(err::HostInvalidArg, "Shell", "No command given.");
    std::string program = findProgram(words[0]);
    if (!program.empty()) return spawn(program, words, wait);
    // Not a program: a document to open with the desktop's opener.
    if (!sfs::exists(words[0])) fail(err::HostFileNotFound, "WshShell.Run", "The system cannot find the file specified.");
    std::string doc = sfs::absolute(words[0]).string();
    ui().documentOpened(doc);
    const std::string& op = opener();
    if (op.empty()) return 0;
    std::string opProgram = findProgram(op);
    if (opProgram.empty()) return 0;   // no desktop here: the driver has shown the path
    return spawn(opProgram, {op, doc}, wait);
}

int32_t Shell::RunCapturing(const std::string& commandLine, const std::string& outputPath) {
    auto words = splitCommandLine(commandLine);
    if (words.empty()) fail(err::HostInvalidArg, "Shell", "No command given.");
    std::string program = findProgram(words[0]);
    if (program.empty()) fail(err::HostFileNotFound, "WshShell.Run", "The system cannot find the file specified: " + words[0]);
    return spawn(program, words, true, outputPath);
}

StartedProgram Shell::StartCapturing(const std::string& commandLine, const std::string& outputPath) {
    auto words = splitCommandLine(commandLine);
    if (words.empty()) fail(err::HostInvalidArg, "Shell", "No command given.");
    std::string program = findProgram(words[0]);
    if (program.empty()) fail(err::HostFileNotFound, "WshShell.Run", "The system cannot find the file specified: " + words[0]);
    return StartedProgram(start(program, words, outputPath));
}

namespace fs {

bool FileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && sfs::is_regular_file(path, ec);
}

bool FolderExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && sfs::is_directory(path, ec);
}

bool IsReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail(err::FileNotFound, "FileSystem", "File not found: " + path);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return ::access(path.c_str(), W_OK) != 0 && geteuid() != 0;
}

void SetReadOnly(const std::string& path, bool readOnly) {
    std::error_code ec;
    auto perms = sfs::status(path, ec).permissions();
    if (ec) fail(err::FileNotFound, "FileSystem", "File not found: " + path);
    const auto w = sfs::perms::owner_write | sfs::perms::group_write | sfs::perms::others_write;
    if (readOnly)
        sfs::permissions(path, w, sfs::perm_options::remove, ec);
    else
        sfs::permissions(path, sfs::perms::owner_write, sfs::perm_options::add, ec);
    (void)perms;
    if (ec) fail(err::PermissionDenied, "FileSystem", "Permission denied: " + path);
}

void DeleteFile(const std::string& path, bool force) {
    if (!FileExists(path)) fail(err::FileNotFound, "FileSystem", "File not found: " + path);
    if (!force && IsReadOnly(path)) fail(err::PermissionDenied, "FileSystem", "Permission denied: " + path);
    std::error_code ec;
    sfs::remove(path, ec);
    if (ec) fail(err::PermissionDenied, "FileSystem", "Permission denied: " + path);
}

std::string GetTempFolder() {
    const char* t = std::getenv("TMPDIR");
    std::string folder = (t && *t) ? t : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string GetTempName() {
    static std::mt19937 gen(std::random_device{}());
    static std::atomic<unsigned> counter{0};
    unsigned v = (gen() ^ (counter++ * 2654435761u)) & 0xFFFFFu;
    return fmt::format("rad{:05X}.tmp", v);
}

std::string BuildPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string GetParentFolderName(const std::string& path) { return sfs::path(path).parent_path().string(); }
std::string GetFileName(const std::string& path) { return sfs::path(path).filename().string(); }
std::string GetBaseName(const std::string& path) { return sfs::path(path).stem().string(); }
std::string GetExtensionName(const std::string& path) {
    auto e = sfs::path(path).extension().string();
    return e.empty() ? e : e.substr(1);
}

void WriteTextFile(const std::string& path, const std::vector<std::string>& lines, bool append) {
    std::string text;
    for (auto& l : lines) text += l + "\r\n";
    if (!append) {
        // A whole-file write replaces the file: the old one stays until the
        // new one is complete.
        if (!FolderExists(sfs::path(path).parent_path().empty() ? "." : sfs::path(path).parent_path().string()))
            fail(err::PathNotFound, "FileSystem", "Cannot write " + path);
        try {
            replaceFileContents(path, text);
        } catch (const Failure& f) {
            fail(err::PermissionDenied, "FileSystem", f.description());
        }
        return;
    }
    // An append adds all its lines or none: a failed write is cut back off,
    // which only this run may do while it holds the file.
    OutputLock lock(path);
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) fail(err::PathNotFound, "FileSystem", "Cannot write " + path);
    struct stat st {};
    off_t before = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    try {
        writeAllTo(fd, text, path);
    } catch (const Failure& f) {
        if (before >= 0) (void)!::ftruncate(fd, before);
        ::close(fd);
        fail(err::PermissionDenied, "FileSystem", f.description());
    }
    if (::close(fd) != 0) {
        int e = errno;
        if (before >= 0) (void)!::truncate(path.c_str(), before);
        fail(err::PermissionDenied, "FileSystem", "Cannot write " + path + ": " + std::strerror(e) + ".");
    }
}

void AppendLine(const std::string& path, const std::string& line) { WriteTextFile(path, {line}, true); }

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) fail(err::FileNotFound, "FileSystem", "File not found: " + path);
    std::vector<std::string> lines;
    std::string l;
    while (std::getline(f, l)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(l);
    }
    return lines;
}

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) fail(err::FileNotFound, "FileSystem", "File not found: " + path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace fs
}  // namespace korvane::host
