#pragma once
// A session of the raster library's dialog tests: a scripted user, a fresh
// document, a private folder for copies of the sample, and the command under
// test created as the host creates it (its dialog closed at the end).
//
//     GridSession<kv::clsG_RegionStats> s(KV_SAMPLE_DIR);
//     s.map()->addLayer(h::openRasterLayer(s.sample("landscape.tif")));
//     s.command.OnClick();
#include <stdlib.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Document.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "raster/Classes/GridCommand.h"
#include "raster/Modules/modRunFragStats.h"

namespace korvane::test {

template <class Command>
class GridSession {
public:
    explicit GridSession(std::string sampleFolder, const char* prefix = "kv-griddialog")
        : samples_(std::move(sampleFolder)) {
        std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        dir = tmpl;
        driver.echoForms = false;
        korvane::host::setUi(&driver);
        auto& app = korvane::host::Application::instance();
        app.setDocument(std::make_shared<korvane::host::Document>());
        app.modelessAllowed = true;
        command.OnCreate(&app);
        kv::SetMapLayersChanged(false);
    }
    ~GridSession() {
        auto* d = command.dialog();
        if (d && d->loaded()) d->template get<korvane::host::CommandButton>("cmdCancel").click();
        korvane::host::Application::instance().setDocument(std::make_shared<korvane::host::Document>());
        korvane::host::setUi(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    GridSession(const GridSession&) = delete;
    GridSession& operator=(const GridSession&) = delete;

    korvane::host::MapPtr map() const { return korvane::host::Application::instance().document()->focusMap(); }
    // A copy of a sample file and its sidecars (every file of its stem) in the session's folder.
    std::string sample(const std::string& name) const {
        const std::string stem = std::filesystem::path(name).stem().string();
        for (const auto& e : std::filesystem::directory_iterator(samples_)) {
            std::string f = e.path().filename().string();
            if (f == name || f.rfind(stem + ".", 0) == 0)
                std::filesystem::copy_file(e.path(), dir / f, std::filesystem::copy_options::overwrite_existing);
        }
        return (dir / name).string();
    }
    // The dialog of a new click.
    auto& open() {
        command.OnClick();
        auto* d = command.dialog();
        if (!d) throw std::runtime_error("no dialog");
        return *d;
    }
    void act(const std::vector<std::string>& lines) {
        driver.addLines(lines);
        driver.driveModeless();
    }
    std::vector<std::string> messageTexts() const {
        std::vector<std::string> t;
        for (const auto& m : driver.messages) t.push_back(m.text);
        return t;
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }

    std::filesystem::path dir;
    std::ostringstream out;
    korvane::host::ScriptDriver driver{out};
    Command command;

private:
    std::string samples_;
};

// Points $TMPDIR at a folder of the session while it lives.
class TempFolderHere {
public:
    explicit TempFolderHere(const std::filesystem::path& dir) : path(dir) {
        const char* old = std::getenv("TMPDIR");
        if (old) old_ = old;
        std::filesystem::create_directories(path);
        ::setenv("TMPDIR", path.c_str(), 1);
    }
    ~TempFolderHere() {
        if (old_) ::setenv("TMPDIR", old_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path)) out.push_back(e.path().string());
        return out;
    }
    std::filesystem::path path;

private:
    std::optional<std::string> old_;
};

// A stand-in for fragstat while it lives: a shell script that fails or
// writes broken files under the base path it is given ($2).
class FragStatsStandIn {
public:
    FragStatsStandIn(const std::filesystem::path& dir, const std::string& body) : path_(dir / "fragstat-stand-in") {
        std::ofstream(path_) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
        kv::testing::UseFragStatsProgram(path_.string());
    }
    ~FragStatsStandIn() { kv::testing::UseFragStatsProgram(""); }
    FragStatsStandIn(const FragStatsStandIn&) = delete;
    FragStatsStandIn& operator=(const FragStatsStandIn&) = delete;

private:
    std::filesystem::path path_;
};

}  // namespace korvane::test
