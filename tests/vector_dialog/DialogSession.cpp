#include "DialogSession.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "host/Document.h"
#include "host/data/Workspace.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace kvtest {

void RecordingDriver::formShown(h::Form& f, bool modal) {
    shown_.push_back(&f);
    ScriptDriver::formShown(f, modal);
}

h::Form* RecordingDriver::lastShown(const std::string& name) const {
    for (auto it = shown_.rbegin(); it != shown_.rend(); ++it)
        if ((*it)->name() == name) return *it;
    return nullptr;
}

DialogSession::DialogSession(bool withIni) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string tag = info ? std::string(info->test_suite_name()) + "." + info->name() : "session";
    std::replace(tag.begin(), tag.end(), '/', '_');
    auto dir = sfs::temp_directory_path() / ("kv-dialog-" + std::to_string(::getpid()) + "-" + tag);
    sfs::remove_all(dir);
    sfs::create_directories(dir);
    folder_ = dir.string();
    sfs::copy_file(KV_VECTOR_LIBRARY, dir / "libKorvane93.so");
    if (withIni) writeIni({"[KorvaneBatch]", "Location=" + batchFile()});

    driver_.echoForms = false;
    h::setUi(&driver_);
    auto& app = h::Application::instance();
    app.setDocument(std::make_shared<h::Document>());
    app.modelessAllowed = true;
    app.loadLibrary((dir / "libKorvane93.so").string());
    holder_ = app.registry().create("Korvane.clsSpatialStats");
    command_ = dynamic_cast<h::ICommand*>(holder_.get());
    if (!command_) throw std::runtime_error("Korvane.clsSpatialStats is no command");
    command_->OnCreate(&app);
}

DialogSession::~DialogSession() {
    holder_.reset();   // the command and its dialog
    h::Application::instance().setDocument(std::make_shared<h::Document>());
    h::setUi(nullptr);
    std::error_code ec;
    sfs::remove_all(folder_, ec);
}

void DialogSession::writeIni(const std::vector<std::string>& lines) const {
    std::ofstream f(iniFile(), std::ios::binary | std::ios::trunc);
    for (const auto& l : lines) f << l << "\r\n";
}

h::MapPtr DialogSession::map() const { return h::Application::instance().document()->focusMap(); }

void DialogSession::addLayer(const h::LayerPtr& layer) const { map()->addLayer(layer); }

h::FeatureLayerPtr DialogSession::sampleLayer(const std::string& name) const {
    return h::openFeatureLayer(std::string(KV_SAMPLE_DIR) + "/" + name + ".shp");
}

h::FeatureLayerPtr DialogSession::fixtureLayer(const std::string& name, const std::vector<h::FieldDef>& fields,
                                               h::ShapeType type) const {
    auto ws = h::ShapefileWorkspace::open(folder_);
    auto fc = ws.createFeatureClass(name, fields, type);
    return std::make_shared<h::FeatureLayer>(fc, name);
}

h::Form& DialogSession::open() {
    command_->OnClick();
    h::Form* f = driver_.lastShown("frmSpatialStat");
    if (!f) throw std::runtime_error("the dialog was not shown:\n" + out_.str());
    return *f;
}

void DialogSession::act(const std::vector<std::string>& lines) {
    driver_.addLines(lines);
    driver_.driveModeless();
}

std::vector<std::string> readLines(const std::string& path, std::string* raw) {
    std::ifstream f(path, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (raw) *raw = all;
    std::vector<std::string> lines;
    std::string l;
    for (char c : all) {
        if (c == '\n') {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            lines.push_back(l);
            l.clear();
        } else {
            l += c;
        }
    }
    if (!l.empty()) lines.push_back(l);
    return lines;
}

}  // namespace kvtest
