// Folders handed to the background remover are all gone once it has waited
// or gone itself, whatever they hold; a folder that is not there stops nothing.
#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/System.h"

namespace {

namespace fs = std::filesystem;
using korvane::host::fs::FolderRemover;

std::vector<fs::path> makeFolders(const fs::path& under, const std::string& prefix, int n) {
    std::vector<fs::path> made;
    for (int i = 0; i < n; ++i) {
        fs::path d = under / (prefix + std::to_string(i));
        fs::create_directories(d / "inner");
        std::ofstream(d / "a.flt") << std::string(4096, 'x');
        std::ofstream(d / "inner" / "b.txt") << "b";
        made.push_back(d);
    }
    return made;
}

TEST(FolderRemover, EveryFolderGivenIsGoneAfterWaitOrDestruction) {
    std::string pattern = (fs::temp_directory_path() / "kv-remover-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path root = pattern;
    const std::vector<fs::path> first = makeFolders(root, "w", 20);
    const std::vector<fs::path> second = makeFolders(root, "d", 20);
    {
        FolderRemover remover;
        remover.remove((root / "never-made").string());
        for (const fs::path& d : first) remover.remove(d.string());
        remover.wait();
        for (const fs::path& d : first) EXPECT_FALSE(fs::exists(d)) << d;
        for (const fs::path& d : second) remover.remove(d.string());
    }
    for (const fs::path& d : second) EXPECT_FALSE(fs::exists(d)) << d;
    EXPECT_TRUE(fs::is_empty(root));
    fs::remove_all(root);
    FolderRemover unused;   // one never given a folder waits for nothing
    unused.wait();
}

}  // namespace
