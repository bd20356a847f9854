// The raster sources' use of the host's replace helper.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/Failure.h"
#include "host/System.h"
#include "host/data/RasterImpl.h"

namespace korvane::host::data {

namespace stdfs = std::filesystem;

struct ReplaceFiles::State {
    std::vector<std::string> targets, temps;
    bool committed = false;
};

ReplaceFiles::ReplaceFiles(std::vector<std::string> targets) : state_(std::make_unique<State>()) {
    static int counter = 0;
    for (const std::string& t : targets) {
        stdfs::path p(t);
        std::string folder = p.parent_path().empty() ? "." : p.parent_path().string();
        if (!fs::FolderExists(folder))
            fail(err::PathNotFound, "ReplaceFiles", "The folder does not exist: " + folder);
        if (fs::IsReadOnly(folder))
            fail(err::HostAccessDenied, "ReplaceFiles", "Cannot write " + t + ": the folder is read-only.");
        std::string tmp = (p.parent_path() / (p.stem().string() + ".kvtmp-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(++counter) + p.extension().string()))
                              .string();
        state_->temps.push_back(tmp);
    }
    state_->targets = std::move(targets);
}

ReplaceFiles::~ReplaceFiles() {
    if (state_->committed) return;
    std::error_code ec;
    for (const std::string& t : state_->temps) stdfs::remove(t, ec);
}

const std::string& ReplaceFiles::temporary(size_t i) const { return state_->temps.at(i); }

void ReplaceFiles::writeText(size_t i, const std::string& text) {
    const std::string& tmp = temporary(i);
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) fail(err::PathNotFound, "ReplaceFiles", "Cannot write " + state_->targets[i] + ": " + std::strerror(errno));
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) fail(err::PathNotFound, "ReplaceFiles", "Cannot write " + state_->targets[i] + ": " + std::strerror(errno));
}

void ReplaceFiles::commit() {
    for (size_t i = 0; i < state_->targets.size(); ++i) {
        std::error_code ec;
        stdfs::rename(state_->temps[i], state_->targets[i], ec);
        if (ec) fail(err::PathNotFound, "ReplaceFiles", "Cannot replace " + state_->targets[i] + ": " + ec.message());
    }
    state_->committed = true;
}

void replaceWhole(const std::string& path, const std::string& bytes) {
    ReplaceFiles r({path});
    r.writeText(0, bytes);
    r.commit();
}

}  // namespace korvane::host::data
