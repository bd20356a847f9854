#include "vector/Modules/modKorvaneIni.h"

#include <fstream>

#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/modKorvaneIni");

namespace kv {

namespace h = korvane::host;

namespace {
constexpr const char* kSectionLine = "[KorvaneBatch]";

std::string trimBlanks(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}
}  // namespace

std::string KorvaneIniPath() {
    std::string result;
    KV_PROCEDURE("KorvaneIniPath", Inner).run([&] {
        KV_LINE;
        result = App::Path() + "/Korvane.ini";
    });
    return result;
}

bool KorvaneIniExists() {
    bool result = false;
    KV_PROCEDURE("KorvaneIniExists", Inner).run([&] {
        KV_LINE;
        if (h::fs::FileExists(KorvaneIniPath())) {
            result = true;
            return;
        }
        KV_LINE;
        MsgBox("'" + App::Path() + "/Korvane.ini' could not be found.  Cannot continue.", h::mb::OKOnly,
               "Missing system file");
    });
    return result;
}

BatchLocation BatchLocationFromLines(const std::vector<std::string>& lines) {
    BatchLocation result;
    KV_PROCEDURE("BatchLocationFromLines", Inner).run([&] {
        for (size_t i = 0; i < lines.size(); ++i) {
            KV_LINE;
            if (lines[i] != kSectionLine) continue;
            if (i + 1 == lines.size()) {
                result = BatchLocation{{}, true};
                break;
            }
            KV_LINE;
            const std::string& line = lines[i + 1];
            size_t eq = line.find('=');
            result = BatchLocation{trimBlanks(eq == std::string::npos ? line : line.substr(eq + 1)), false};
            ++i;   // the location line is no section line, whatever it says
        }
    });
    return result;
}

BatchLocation ReadBatchLocation(const std::string& iniPath) {
    BatchLocation result;
    KV_PROCEDURE("ReadBatchLocation", Inner).run([&] {
        KV_LINE;
        std::ifstream in(iniPath, std::ios::binary);
        if (!in) return;   // there but unreadable: no location
        std::vector<std::string> lines;
        std::string l;
        KV_LINE;
        while (std::getline(in, l)) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            lines.push_back(std::move(l));
        }
        KV_LINE;
        result = BatchLocationFromLines(lines);
    });
    return result;
}

}  // namespace kv
