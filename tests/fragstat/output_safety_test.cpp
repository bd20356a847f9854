// Putting `.land` / `.class` in place: injected failures and kills at every
// step leave the earlier files byte for byte, concurrent runs on one base
// both land their rows, and nothing but marked temporaries is ever left.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>

#include "support.h"

namespace {
using namespace kvtest;

const std::vector<float> kGrid = {1, 1, 2, 1, 3, 2, 3, 3, -9999};

class OutputSafety : public ScratchDir {
public:
    void SetUp() override {
        ScratchDir::SetUp();
        write_flt("g", kGrid, 3, 3);
    }
    void TearDown() override {
        set_write_fault_hook({});
        ScratchDir::TearDown();
    }
    std::vector<std::string> line() const {
        return {path("g.flt"), path("g"), "30", "30", "7", "3", "3", "-9999", "$", "$", "$", "$", "1", "y",
                "1000000000", "y", "NO", "$"};
    }
    int run_it() {
        std::ostringstream err;
        const int rc = run(line(), err);
        messages = err.str();
        return rc;
    }
    // Every file of the folder but the grid, with its bytes.
    std::map<std::string, std::string> outputs() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            if (name != "g.flt" && name != "g.hdr") out[name] = slurp(e.path().string());
        }
        return out;
    }
    static bool is_temporary(const std::string& name) { return name.find(".kvtmp-") != std::string::npos; }
    std::string messages;
};

// Fails the `nth` occurrence (from 1) of `step` on the file ending in `which`.
WriteFaultHook fail_at(WriteStep step, const std::string& which, int err, int nth = 1) {
    auto seen = std::make_shared<int>(0);
    return [=](WriteStep s, const std::string& target) {
        if (s != step || !target.ends_with(which)) return 0;
        return ++*seen == nth ? err : 0;
    };
}

struct Fault {
    WriteStep step;
    const char* file;
    int err;
    const char* name;
};
const Fault kFaults[] = {
    {WriteStep::Lock, ".land", ENOLCK, "lock"},
    {WriteStep::Open, ".land", EACCES, "open land"},
    {WriteStep::Open, ".class", EROFS, "open class"},
    {WriteStep::Write, ".land", ENOSPC, "write land"},
    {WriteStep::Write, ".class", EDQUOT, "write class"},
    {WriteStep::Sync, ".class", EIO, "fsync class"},
    {WriteStep::Close, ".land", EIO, "close land"},
    {WriteStep::Backup, ".class", EIO, "keeping old class"},
    {WriteStep::Rename, ".land", EACCES, "rename land"},
    {WriteStep::Rename, ".class", EROFS, "rename class after land is in place"},
};

TEST_F(OutputSafety, FailureAtAnyStepLeavesEarlierFilesByteIdentical) {
    for (bool earlier_run : {true, false}) {
        for (const auto& f : kFaults) {
            if (!earlier_run && f.step == WriteStep::Backup) continue;  // nothing to keep
            SCOPED_TRACE(std::string(f.name) + (earlier_run ? ", over an earlier run" : ", first run"));
            for (const auto& [name, bytes] : outputs()) fs::remove(dir / name);
            if (earlier_run) {
                ASSERT_EQ(run_it(), 0) << messages;
                std::ofstream(path("g.land"), std::ios::app) << "rows of a run before\n";
            }
            const auto before = outputs();
            set_write_fault_hook(fail_at(f.step, f.file, f.err));
            EXPECT_EQ(run_it(), 1);
            set_write_fault_hook({});
            EXPECT_NE(messages.find(std::strerror(f.err)), std::string::npos) << messages;
            EXPECT_EQ(outputs(), before);
        }
    }
}

TEST_F(OutputSafety, OldFileKeptUnderItsMarkedNameWhenItCannotBePutBack) {
    ASSERT_EQ(run_it(), 0) << messages;
    const std::string old_land = slurp(path("g.land"));
    auto rename_class = fail_at(WriteStep::Rename, ".class", EIO);
    auto restore_land = fail_at(WriteStep::Restore, ".land", EIO);
    set_write_fault_hook([&](WriteStep s, const std::string& t) { const int e = rename_class(s, t);
        return e != 0 ? e : restore_land(s, t); });
    EXPECT_EQ(run_it(), 1);
    EXPECT_NE(messages.find("is kept as"), std::string::npos) << messages;
    int kept = 0;
    for (const auto& [name, bytes] : outputs())
        if (is_temporary(name)) {
            EXPECT_EQ(bytes, old_land) << name;
            ++kept;
        }
    EXPECT_EQ(kept, 1);
}

// Runs the program in a child that dies by SIGKILL at the named step, or
// under a file-size limit; returns the child's wait status.
template <class Setup>
int in_child(OutputSafety& t, Setup setup) {
    const pid_t pid = fork();
    if (pid == 0) {
        setup();
        _exit(t.run_it());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST_F(OutputSafety, KilledRunLeavesEachFileOldOrNewWholeAndOnlyMarkedTemporaries) {
    ASSERT_EQ(run_it(), 0) << messages;
    const auto before = outputs();
    ASSERT_EQ(run_it(), 0) << messages;
    const auto after = outputs();  // what one more run makes of `before`
    for (const auto& [name, bytes] : after) fs::remove(dir / name);
    for (const auto& f : kFaults) {
        SCOPED_TRACE(f.name);
        for (const auto& [name, bytes] : outputs()) fs::remove(dir / name);
        for (const auto& [name, bytes] : before) std::ofstream(path(name), std::ios::binary) << bytes;
        const int status = in_child(*this, [&]() {
            set_write_fault_hook([&](WriteStep s, const std::string& target) {
                if (s == f.step && target.ends_with(f.file)) raise(SIGKILL);
                return 0;
            });
        });
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        const bool renames_begun = f.step == WriteStep::Rename && std::string(f.file) == ".class";
        for (const auto& [name, bytes] : outputs()) {
            if (is_temporary(name)) continue;
            ASSERT_TRUE(before.count(name)) << "unmarked leftover " << name;
            if (renames_begun) EXPECT_TRUE(bytes == before.at(name) || bytes == after.at(name)) << name;
            else EXPECT_EQ(bytes, before.at(name)) << name;
        }
        for (const auto& [name, bytes] : before) EXPECT_TRUE(fs::exists(dir / name)) << name;
    }
}

TEST_F(OutputSafety, FileSizeLimitLeavesEarlierFiles) {
    ASSERT_EQ(run_it(), 0) << messages;
    const auto before = outputs();
    const int status = in_child(*this, []() {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{64, 64};
        setrlimit(RLIMIT_FSIZE, &lim);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(outputs(), before);
}

TEST_F(OutputSafety, TwoRunsAtOnceBothLandTheirRows) {
    ASSERT_EQ(run_it(), 0) << messages;
    const std::string one_land = slurp(path("g.land")), one_class = slurp(path("g.class"));
    for (const auto& [name, bytes] : outputs()) fs::remove(dir / name);
    // Each child dawdles while it holds the lock, so the other must wait.
    std::vector<pid_t> kids;
    for (int k = 0; k < 2; ++k) {
        const pid_t pid = fork();
        if (pid == 0) {
            set_write_fault_hook([](WriteStep s, const std::string&) {
                if (s == WriteStep::Open) std::this_thread::sleep_for(std::chrono::milliseconds(150));
                return 0;
            });
            _exit(run_it());
        }
        kids.push_back(pid);
    }
    for (pid_t pid : kids) {
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    // One header, then both runs' rows.
    const auto header_end = [](const std::string& s) { return s.find('\n') + 1; };
    EXPECT_EQ(slurp(path("g.land")), one_land + one_land.substr(header_end(one_land)));
    EXPECT_EQ(slurp(path("g.class")), one_class + one_class.substr(header_end(one_class)));
    for (const auto& [name, bytes] : outputs()) EXPECT_FALSE(is_temporary(name)) << name;
}

}  // namespace
