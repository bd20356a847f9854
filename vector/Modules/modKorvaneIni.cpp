#include "vector/Modules/modKorvaneIni.h"

#include <filesystem>
#include <fstream>

#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/modKorvaneIni");

namespace kv {

namespace h = korvane::host;

namespace {
constexpr const char* kSectionLine = "[KorvaneBatch]";
}  // namespace

std::string TrimBlanks(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

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
            result = BatchLocation{TrimBlanks(eq == std::string::npos ? line : line.substr(eq + 1)), false};
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

std::vector<std::string> LinesWithBatchLocation(const std::vector<std::string>& lines, const std::string& location) {
    std::vector<std::string> result;
    KV_PROCEDURE("LinesWithBatchLocation", Inner).run([&] {
        KV_LINE;
        result.reserve(lines.size() + 1);
        for (size_t i = 0; i < lines.size(); ++i) {
            result.push_back(lines[i]);
            if (lines[i] != kSectionLine) continue;
            KV_LINE;
            result.push_back("Location=" + location);
            ++i;   // the old location line is replaced, never read as a section line
        }
    });
    return result;
}

void WriteBatchLocation(const std::string& iniPath, const std::string& location) {
    KV_PROCEDURE("WriteBatchLocation", Inner).run([&] {
        KV_LINE;
        if (h::fs::IsReadOnly(iniPath))
            h::fail(h::err::PermissionDenied, "Korvane", "Permission denied: " + iniPath);
        KV_LINE;
        std::vector<std::string> lines = LinesWithBatchLocation(h::fs::ReadLines(iniPath), location);
        // Every line is kept, however many the file holds.
        // The file is replaced whole (a linked file where it lies), keeping
        // its mode and owner; a failure leaves the old file.
        KV_LINE;
        try {
            h::fs::WriteTextFile(iniPath, lines);
        } catch (const h::Failure&) {
            h::fail(h::err::PermissionDenied, "Korvane", "Cannot write " + iniPath);
        }
    });
}

}  // namespace kv

namespace kv {

std::string DefaultBatchFile() { return KV_DEFAULT_BATCH_FILE; }

void MakeDefaultBatchFolder(const std::string& location, const std::string& defaultFile) {
    namespace sfs = std::filesystem;
    if (location.empty() || defaultFile.empty()) return;
    const sfs::path wanted = sfs::path(location).lexically_normal();
    if (wanted != sfs::path(defaultFile).lexically_normal()) return;
    std::error_code ec;
    if (!sfs::exists(wanted.parent_path(), ec)) sfs::create_directories(wanted.parent_path(), ec);
}

}  // namespace kv
