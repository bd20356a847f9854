#pragma once
// A Spatial Statistics session as the host runs it: a private copy of the
// vector library in a fresh folder (so that each test has its own
// Korvane.ini beside the library, or none), a map document, the command
// created by its identifier, and a scripted user.
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Component.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"

namespace kvtest {

// Records the forms that are shown, so that a test can read their controls.
class RecordingDriver : public korvane::host::ScriptDriver {
public:
    using ScriptDriver::ScriptDriver;
    void formShown(korvane::host::Form& f, bool modal) override;
    korvane::host::Form* lastShown(const std::string& name) const;

private:
    std::vector<korvane::host::Form*> shown_;
};

class DialogSession {
public:
    // withIni: write a Korvane.ini whose location is batchFile().
    explicit DialogSession(bool withIni = true);
    ~DialogSession();
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    // The library's folder (also where the fixtures and outputs go).
    const std::string& folder() const { return folder_; }
    std::string file(const std::string& name) const { return folder_ + "/" + name; }
    std::string batchFile() const { return file("runs.kv"); }
    std::string iniFile() const { return file("Korvane.ini"); }
    // Writes Korvane.ini with these lines (CR LF ends).
    void writeIni(const std::vector<std::string>& lines) const;

    korvane::host::MapPtr map() const;
    // Puts a layer on top of the map.
    void addLayer(const korvane::host::LayerPtr& layer) const;
    // A layer of the data/sample shapefile of that name.
    korvane::host::FeatureLayerPtr sampleLayer(const std::string& name) const;
    // A new, empty shapefile in folder() with these attribute fields.
    korvane::host::FeatureLayerPtr fixtureLayer(const std::string& name,
                                                const std::vector<korvane::host::FieldDef>& fields,
                                                korvane::host::ShapeType type = korvane::host::ShapeType::Polygon) const;

    korvane::host::ICommand& command() { return *command_; }
    // Clicks the command and returns the dialog it shows.
    korvane::host::Form& open();
    // The user's actions, then drives the shown dialogs until they run out.
    void act(const std::vector<std::string>& lines);

    RecordingDriver& driver() { return driver_; }
    std::string transcript() const { return out_.str(); }

private:
    std::string folder_;
    std::ostringstream out_;
    RecordingDriver driver_{out_};
    std::unique_ptr<korvane::host::Component> holder_;
    korvane::host::ICommand* command_ = nullptr;
};

// The lines of a text file, without their ends; the raw bytes in raw.
std::vector<std::string> readLines(const std::string& path, std::string* raw = nullptr);

}  // namespace kvtest
