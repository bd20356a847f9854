// Programs started without waiting: their exit codes and captured output
// reach the caller, one that cannot be started is refused, and one never
// waited for is stopped and reaped when it goes.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/Failure.h"
#include "host/System.h"

namespace {

namespace fs = std::filesystem;
namespace h = korvane::host;

struct Folder {
    fs::path path;
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "kv-started-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path = pattern;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path script(const std::string& name, const std::string& text) const {
        const fs::path p = path / name;
        std::ofstream(p) << text;
        fs::permissions(p, fs::perms::owner_all);
        return p;
    }
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(StartedProgram, ExitCodesAndOutputReachTheCallerInAnyOrderOfWaiting) {
    Folder dir;
    ASSERT_FALSE(dir.path.empty());
    const fs::path prog = dir.script("exit-with.sh", "#!/bin/sh\necho \"out $1\"\necho \"err $1\" >&2\nexit \"$1\"\n");
    h::Shell shell;
    std::vector<h::StartedProgram> started;
    for (int i = 0; i < 12; ++i)
        started.push_back(shell.StartCapturing(prog.string() + " " + std::to_string(i),
                                               (dir.path / ("out" + std::to_string(i))).string()));
    for (int i = 11; i >= 0; --i) {   // the last first
        ASSERT_TRUE(started[static_cast<size_t>(i)].started());
        EXPECT_EQ(started[static_cast<size_t>(i)].wait(), i);
        EXPECT_FALSE(started[static_cast<size_t>(i)].started());
        EXPECT_EQ(slurp(dir.path / ("out" + std::to_string(i))),
                  "out " + std::to_string(i) + "\nerr " + std::to_string(i) + "\n");
    }
    EXPECT_THROW(started.front().wait(), h::Failure);   // its exit was taken
}

TEST(StartedProgram, OneThatCannotBeStartedIsRefusedAtOnce) {
    Folder dir;
    ASSERT_FALSE(dir.path.empty());
    const fs::path bad = dir.script("not-a-program", "\x7f" "ELF, but no more");
    h::Shell shell;
    EXPECT_THROW(shell.StartCapturing(bad.string(), (dir.path / "out").string()), h::Failure);
    EXPECT_THROW(shell.StartCapturing((dir.path / "missing").string(), (dir.path / "out").string()), h::Failure);
    h::StartedProgram none;
    EXPECT_FALSE(none.started());
    EXPECT_THROW(none.wait(), h::Failure);
}

TEST(StartedProgram, OneNeverWaitedForIsStoppedAndReapedWhenItGoes) {
    Folder dir;
    ASSERT_FALSE(dir.path.empty());
    const fs::path slow = dir.script("slow.sh", "#!/bin/sh\nexec sleep 30\n");
    h::Shell shell;
    {
        h::StartedProgram a = shell.StartCapturing(slow.string(), (dir.path / "a").string());
        h::StartedProgram b = shell.StartCapturing(slow.string(), (dir.path / "b").string());
        a = std::move(b);   // the first is stopped here, the second when a goes
    }
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);   // no child left, not even a zombie
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
