#include "vector/Classes/clsCreateHex.h"

#include <cctype>
#include <cstdint>
#include <limits>

#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Modules/modMisc.h"

KV_MODULE("Classes/clsCreateHex");

namespace kv {

namespace h = korvane::host;

namespace {

constexpr int32_t kInputPastEndOfFile = 62;
const char* kBuilder = "hex";

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (size_t i = s.find(from); i != std::string::npos; i = s.find(from, i + to.size())) s.replace(i, from.size(), to);
}

std::string beforeLastSlash(const std::string& path) {
    auto i = path.rfind('/');
    return i == std::string::npos ? std::string() : path.substr(0, i);
}

std::string afterLastSlash(const std::string& path) {
    auto i = path.rfind('/');
    return i == std::string::npos ? path : path.substr(i + 1);
}

// The builder's messages by result code ('0' to '6'); '7' is success.
const char* ResultMessage(char code) {
    switch (code) {
        case '0': return "Cannot open input .SHP file";
        case '1': return "Hexagon area larger than coverage bounding box - try a smaler area";
        case '2': return "Cannot open output .SHP file";
        case '3': return "Cannot open output .DBF file";
        case '4': return "Cannot open output .SHX file";
        case '5': return "System limitation of 10,000,000 hexagons exceeded - try larger area";
        case '6': return "Could not allocate sufficient memory to complete this process";
        default: return nullptr;
    }
}

}  // namespace

bool IsNumericAnswer(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    if (i == std::string::npos) return false;
    ++end;
    if (text[i] == '+' || text[i] == '-') ++i;
    size_t digits = 0;
    bool point = false;
    for (; i < end && (std::isdigit(static_cast<unsigned char>(text[i])) || (text[i] == '.' && !point)); ++i) {
        if (text[i] == '.')
            point = true;
        else
            ++digits;
    }
    if (digits == 0) return false;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
        size_t expDigits = 0;
        for (; i < end && std::isdigit(static_cast<unsigned char>(text[i])); ++i) ++expDigits;
        if (expDigits == 0) return false;
    }
    return i == end;
}

std::string HexInputArgument(const std::string& inputShapefile) {
    std::string arg = inputShapefile;
    replaceAll(arg, arg.find(".S") != std::string::npos ? ".S" : ".s", "_Z");
    return quoted(arg);
}

clsCreateHex::clsCreateHex()
    : VectorCommand(kvModulePath_, "CreateHexRegions", "Make Hexagon Regions", EnabledRule::LayerSelected) {}

void clsCreateHex::clickWithoutDialog() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        KV_LINE;
        if (!hook()) h::failObjectNotSet();
        KV_LINE;
        CheckAndSetMapUnits(hook());
        KV_LINE;
        auto layer = std::dynamic_pointer_cast<h::FeatureLayer>(hook()->document()->selectedLayer());
        if (!layer) {
            KV_LINE;
            MsgBox("One layer, and only one, needs to be selected (highlighted).", h::mb::Exclamation,
                   "Cannot create Hexagons");
            return;
        }
        // A prompt whose answer is no number ends the click.
        auto ask = [&](const char* prompt, const char* title, const char* defaultText, std::string* answer) {
            KV_LINE;
            *answer = h::InputBox(prompt, title, defaultText);
            if (IsNumericAnswer(*answer)) return true;
            KV_LINE;
            MsgBox("Numbers are the only valid input", h::mb::OKOnly, "Bad data type");
            return false;
        };
        std::string area, offset;
        if (!ask("Area of hexagons in hectares?", "Making Hexagons...", "100", &area)) return;
        if (!ask("Offset for making hexagon?  In range 0.0 - 1.0", "Assigning Offset...", "0.5", &offset)) return;
        // The layer's name stands for its shapefile's name.
        KV_LINE;
        std::string input = layer->featureClass()->workspacePath() + "/" + layer->name() + ".shp";
        KV_LINE;
        std::string made = CreateHex(input, area, offset);
        if (made.empty()) return;

        KV_LINE;
        auto ws = h::ShapefileWorkspace::open(beforeLastSlash(made));
        KV_LINE;
        auto fc = ws.openFeatureClass(afterLastSlash(made));
        KV_LINE;
        auto hexLayer = std::make_shared<h::FeatureLayer>(fc, fc->name());
        hexLayer->setVisible(true);
        KV_LINE;
        Map()->addLayer(hexLayer);
    });
}

std::string clsCreateHex::CreateHex(const std::string& inputShapefile, const std::string& area,
                                    const std::string& offset) {
    std::string result;
    KV_PROCEDURE("CreateHex", TopLevel).run([&] {
        KV_LINE;
        const std::string builder = App::Path() + "/" + kBuilder;
        if (!h::fs::FileExists(builder)) {
            KV_LINE;
            MsgBox(App::Path() + "/" + kBuilder + " could not be found.  Cannot create hexes.", h::mb::OKOnly,
                   "Missing Component");
            return;
        }
        KV_LINE;
        const std::string inputArg = HexInputArgument(inputShapefile);
        const std::string folder = beforeLastSlash(inputShapefile);
        KV_LINE;
        const std::string output = MakeFileName(folder, "hex", "shp");
        // No folder: MakeFileName has said so; the builder is not started.
        if (output.empty()) return;
        // Only the extension goes: a folder named "x.shp..." stays as it is.
        const std::string outputArg = quoted(output.substr(0, output.size() - 4));
        KV_LINE;
        const std::string log = MakeFileName(folder, "error", "log");
        if (log.empty()) return;

        KV_LINE;
        h::Shell().Run(quoted(builder) + " " + inputArg + " " + outputArg + " " + quoted(log) + " " + area + " " +
                           offset,
                       1, true);

        KV_LINE;
        if (!h::fs::FileExists(log)) h::fail(h::err::FileNotFound, "Korvane", "File not found: " + log);
        KV_LINE;
        const std::string text = h::fs::ReadAll(log);
        if (text.empty()) {
            // An empty log is no answer; it goes all the same.
            KV_LINE;
            h::fs::DeleteFile(log, true);
            h::fail(kInputPastEndOfFile, "Korvane", "Input past end of file");
        }
        const char code = text[0];
        if (const char* message = ResultMessage(code)) {
            KV_LINE;
            MsgBox(message, h::mb::OKOnly);
        }
        KV_LINE;
        h::fs::DeleteFile(log, true);
        if (code == '7') result = output;
    });
    return result;
}

std::string clsCreateHex::MakeFileName(const std::string& folder, const std::string& base,
                                       const std::string& extension) {
    std::string result;
    KV_PROCEDURE("MakeFileName", TopLevel).run([&] {
        KV_LINE;
        if (!h::fs::FolderExists(folder)) {
            KV_LINE;
            MsgBox("Folder " + folder + " does not exist.  Cannot build hexes", h::mb::OKOnly);
            return;
        }
        KV_LINE;
        std::string path = folder + "/" + base + "." + extension;
        if (!h::fs::FileExists(path)) {
            result = path;
            return;
        }
        // The counter is a 16-bit number: past its top the search fails.
        for (int32_t n = 2;; ++n) {
            KV_LINE;
            if (n > std::numeric_limits<int16_t>::max()) h::fail(h::err::Overflow, "Korvane", "Overflow");
            path = folder + "/" + base + std::to_string(n) + "." + extension;
            if (!h::fs::FileExists(path)) {
                result = path;
                return;
            }
        }
    });
    return result;
}

}  // namespace kv
