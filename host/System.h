#pragma once
// Operating-system services: the shell that starts programs and documents,
// and the file system.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvane::host {

// Splits a command line into words, honouring double quotes.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// A program started without waiting for it (Shell::StartCapturing). Its
// exit is taken once, by wait(); one that was not waited for is stopped and
// reaped when the object goes, so no started program outlives its caller.
class StartedProgram {
public:
    StartedProgram() = default;
    explicit StartedProgram(int pid) : pid_(pid) {}
    StartedProgram(StartedProgram&& o) noexcept;
    StartedProgram& operator=(StartedProgram&& o) noexcept;
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;
    ~StartedProgram();
    bool started() const { return pid_ > 0; }
    // Waits for the program to exit: its exit code, 128 + the signal that
    // ended it, or -1.
    int32_t wait();

private:
    void stop() noexcept;
    int pid_ = -1;
};

class Shell {
public:
    // Starts the command line. A first word that is a document rather than a
    // program opens with the desktop's opener. With wait, returns the exit
    // code; without, 0. Fails when the program or document does not exist.
    int32_t Run(const std::string& commandLine, int32_t windowStyle = 1, bool wait = false);
    // Starts a program (never a document) and waits for it, with its standard
    // and error output written to the file outputPath; returns its exit code.
    int32_t RunCapturing(const std::string& commandLine, const std::string& outputPath);
    // The same, without waiting: the caller waits for the program it gets.
    StartedProgram StartCapturing(const std::string& commandLine, const std::string& outputPath);

    // The program that opens documents ("xdg-open" by default).
    static void setOpener(std::string program);
    static const std::string& opener();
};

namespace fs {
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// The read-only attribute: set when the file cannot be written.
bool IsReadOnly(const std::string& path);
void SetReadOnly(const std::string& path, bool readOnly);
// Deletes a file; without force a read-only file is refused. Fails when missing.
void DeleteFile(const std::string& path, bool force = false);
std::string GetTempFolder();
// A fresh name such as "kv1A2B3.tmp" (a name only; nothing is created).
std::string GetTempName();
std::string BuildPath(const std::string& folder, const std::string& name);
std::string GetParentFolderName(const std::string& path);
std::string GetFileName(const std::string& path);
std::string GetBaseName(const std::string& path);
std::string GetExtensionName(const std::string& path);
// Text files are written with CR LF line ends.
void WriteTextFile(const std::string& path, const std::vector<std::string>& lines, bool append = false);
void AppendLine(const std::string& path, const std::string& line);
// Lines without their line ends (CR LF or LF).
std::vector<std::string> ReadLines(const std::string& path);
std::string ReadAll(const std::string& path);

// Removes folders, with everything in them, on a thread of its own, so that
// a loop that leaves a scratch folder at every step does not wait on the
// disk for each. The object waits for every removal it was given as it goes.
class FolderRemover {
public:
    FolderRemover();
    ~FolderRemover();
    FolderRemover(const FolderRemover&) = delete;
    FolderRemover& operator=(const FolderRemover&) = delete;
    void remove(std::string folder);
    // Returns once every folder given so far is gone (or could not be removed).
    void wait();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
}  // namespace fs

}  // namespace korvane::host
