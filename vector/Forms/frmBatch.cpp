#include "vector/Forms/frmBatch.h"

#include <charconv>
#include <cmath>
#include <fstream>

#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Forms/frmCores.h"
#include "vector/Forms/frmMultiLineDisplay.h"
#include "vector/Forms/frmSpatialStat.h"
#include "vector/Modules/modKorvaneIni.h"

KV_MODULE("Forms/frmBatch");

namespace kv {

namespace h = korvane::host;

namespace {

constexpr const char* kCaption = "Korvane - Batch Processing";

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

[[noreturn]] void typeMismatch(const std::string& value) {
    h::fail(h::err::TypeMismatch, "Korvane", "Type mismatch: '" + value + "'");
}

// A line with fewer arguments than its command reads cannot be run.
void needArgs(const BatchLineParts& p, size_t count) {
    if (p.args.size() < count)
        h::fail(h::err::SubscriptOutOfRange, "Korvane",
                "Subscript out of range: " + p.command + " needs " + std::to_string(count) + " arguments, the line has " +
                    std::to_string(p.args.size()));
}

// The argument at index as text; the bracketed list is no text value.
const std::string& textArg(const BatchLineParts& p, size_t index) {
    if (p.isList[index]) typeMismatch("[" + p.args[index] + "]");
    return p.args[index];
}

void runSpatialStatsLine(h::Application* app, const BatchLineParts& p) {
    // Every conversion before the call.
    needArgs(p, 10);
    const std::string& theme = textArg(p, 1);
    const std::string& classField = textArg(p, 2);
    bool raster = BatchFlag(textArg(p, 3));
    bool addToMap = BatchFlag(textArg(p, 4));
    const std::string& table = textArg(p, 5);
    bool append = BatchFlag(textArg(p, 6));
    // A line written by hand without brackets names its one metric box.
    std::vector<std::string> boxes = p.isList[7] ? p.list : std::vector<std::string>{p.args[7]};
    bool landscape = BatchFlag(textArg(p, 8));
    bool hectares = BatchFlag(textArg(p, 9));
    frmSpatialStat dialog;
    dialog.setArcMapHook(app);
    dialog.RunSpatialStats(app, theme, classField, raster, addToMap, table, append, boxes, landscape, hectares);
}

void createCoresLine(h::Application* app, const BatchLineParts& p) {
    needArgs(p, 7);
    const std::string& folder = textArg(p, 0);
    const std::string& name = textArg(p, 1);
    const std::string& layer = textArg(p, 2);
    const std::string& idField = textArg(p, 3);
    double bufferSize = BatchNumber(textArg(p, 4));
    bool explode = BatchFlag(textArg(p, 5));
    bool addToMap = BatchFlag(textArg(p, 6));
    frmCores dialog;
    dialog.setArcMapHook(app);
    dialog.CreateCores(folder, name, layer, idField, bufferSize, explode, addToMap);
}

}  // namespace

// ---- reading a line ---------------------------------------------------------------------------

BatchLineParts ParseBatchLine(const std::string& line) {
    BatchLineParts result;
    KV_PROCEDURE("ParseBatchLine", Inner).run([&] {
        KV_LINE;
        size_t blank = line.find(' ');
        if (blank != std::string::npos && blank > 0) result.command = TrimBlanks(line.substr(0, blank + 1));

        size_t open = line.find('[');
        size_t close = std::string::npos;
        size_t listCommas = 0;
        if (open != std::string::npos) {
            KV_LINE;
            close = line.find(']');
            if (close == std::string::npos || close < open)
                h::fail(h::err::InvalidCall, "Korvane", "Invalid procedure call or argument: the list of '" + line +
                                                           "' has no closing ']'");
            std::string text = line.substr(open + 1, close - open - 1);
            size_t from = 0;
            for (size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1) {
                result.list.push_back(text.substr(from, comma - from));
                ++listCommas;
            }
            result.list.push_back(text.substr(from));
        }
        if (blank == std::string::npos) return;   // no arguments to read

        KV_LINE;
        size_t commas = 0;
        for (char c : line) commas += c == ',';
        size_t count = commas - listCommas + 1;
        size_t pos = blank;   // the scan position; what follows it is read
        for (size_t i = 0; i < count; ++i) {
            KV_LINE;
            if (pos == std::string::npos || pos >= line.size()) {
                result.args.emplace_back();
                result.isList.push_back(false);
                continue;
            }
            size_t comma = line.find(',', pos + 1);
            size_t bracket = line.find('[', pos + 1);
            bool list = bracket != std::string::npos && (comma == std::string::npos || bracket < comma);
            if (list) {
                result.args.push_back(line.substr(open + 1, close - open - 1));
                result.isList.push_back(true);
                pos = line.find(',', close + 1);
            } else if (comma != std::string::npos) {
                result.args.push_back(TrimBlanks(line.substr(pos + 1, comma - pos - 1)));
                result.isList.push_back(false);
                pos = comma;
            } else {
                result.args.push_back(TrimBlanks(line.substr(pos + 1)));
                result.isList.push_back(false);
                pos = std::string::npos;
            }
        }
    });
    return result;
}

bool BatchFlag(const std::string& value) {
    bool result = false;
    KV_PROCEDURE("BatchFlag", Inner).run([&] {
        KV_LINE;
        std::string word = upper(TrimBlanks(value));
        if (word == "TRUE") {
            result = true;
            return;
        }
        if (word == "FALSE") return;
        result = BatchNumber(value) != 0;
    });
    return result;
}

double BatchNumber(const std::string& value) {
    double result = 0;
    KV_PROCEDURE("BatchNumber", Inner).run([&] {
        KV_LINE;
        std::string text = TrimBlanks(value);
        if (!text.empty() && text.front() == '+') text.erase(0, 1);
        const char* first = text.data();
        const char* last = first + text.size();
        auto [end, ec] = std::from_chars(first, last, result, std::chars_format::general);
        if (text.empty() || ec != std::errc() || end != last || !std::isfinite(result)) typeMismatch(value);
    });
    return result;
}

// ---- the batch run ---------------------------------------------------------------------------------

void RunBatchFile(h::Application* app, const std::string& location) {
    KV_PROCEDURE("RunBatchFile", Inner).run([&] {
        KV_LINE;
        if (location.empty() || !h::fs::FileExists(location)) {
            MsgBox("The batch file '" + location + "' could not be found.  Aborting.", h::mb::Exclamation,
                   "File not found");
            return;
        }
        // The lines are read before the first run, so that a run which
        // writes to the batch file cannot feed the replay without end.
        KV_LINE;
        std::vector<std::string> lines = h::fs::ReadLines(location);
        for (const std::string& line : lines) {
            KV_LINE;
            BatchLineParts parts = ParseBatchLine(line);
            std::string word = upper(parts.command);
            if (word == "RUNSPATIALSTATS") {
                KV_LINE;
                runSpatialStatsLine(app, parts);
            } else if (word == "CREATECORES") {
                KV_LINE;
                createCoresLine(app, parts);
            }
        }
    });
}

// ---- the dialog -------------------------------------------------------------------------------------

void frmBatch::design() {
    setCaption(kCaption);
    width = 6300;
    height = 1710;
    borderSizable = false;

    auto& label = add<h::Label>("Label1");
    label.setCaption("Batch File Location:");
    label.move(120, 120, 1815, 255);
    auto& box = add<h::TextBox>("txtBatchFileName");
    box.locked = true;
    box.move(120, 390, 5535, 285);
    auto button = [&](const char* name, const char* caption, int32_t l, int32_t t, int32_t w,
                      int32_t ht) -> h::CommandButton& {
        auto& b = add<h::CommandButton>(name);
        b.setCaption(caption);
        b.move(l, t, w, ht);
        return b;
    };
    // "Choose different file"
    button("cmdChangeFile", "...", 5700, 390, 375, 285).onClick = [this] { cmdChangeFile_Click(); };
    button("cmdClearFile", "Delete batch Contents", 120, 840, 1935, 375).onClick = [this] { cmdClearFile_Click(); };
    button("cmdView", "View file contents", 2130, 840, 1935, 375).onClick = [this] { cmdView_Click(); };
    button("cmdRun", "Run Batch File", 4140, 840, 1935, 375).onClick = [this] { cmdRun_Click(); };
    add<h::CommonDialog>("cmnDlg");
}

void frmBatch::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        location_.clear();
        KV_LINE;
        location_ = GetKorvaneBatchFromINI();
        KV_LINE;
        get<h::TextBox>("txtBatchFileName").setText(location_);
    });
}

std::string frmBatch::GetKorvaneBatchFromINI() {
    std::string result;
    KV_PROCEDURE("GetKorvaneBatchFromINI", TopLevel).run([&] {
        KV_LINE;
        if (!KorvaneIniExists()) return;
        KV_LINE;
        result = ReadBatchLocation(KorvaneIniPath()).location;
    });
    return result;
}

void frmBatch::SetKorvaneBatchInINI() {
    KV_PROCEDURE("SetKorvaneBatchInINI", TopLevel).run([&] {
        KV_LINE;
        if (!KorvaneIniExists()) return;
        KV_LINE;
        WriteBatchLocation(KorvaneIniPath(), get<h::TextBox>("txtBatchFileName").text());
    });
}

void frmBatch::cmdChangeFile_Click() {
    KV_PROCEDURE("cmdChangeFile_Click", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.filter = "Korvane Batch(*.kv)|*.kv";
        dlg.cancelError = false;
        KV_LINE;
        if (!dlg.showSave() || dlg.fileName.empty()) return;   // cancelled: everything stays
        KV_LINE;
        location_ = dlg.fileName;
        get<h::TextBox>("txtBatchFileName").setText(location_);
        KV_LINE;
        SetKorvaneBatchInINI();
    });
}

void frmBatch::cmdClearFile_Click() {
    KV_PROCEDURE("cmdClearFile_Click", TopLevel).run([&] {
        KV_LINE;
        if (location_.empty() || !h::fs::FileExists(location_)) return;
        KV_LINE;
        int32_t answer = MsgBox("Are you sure you want to delete everything from the batch file\r\n" + location_,
                                h::mb::YesNo | h::mb::Exclamation, "Confirm Deletion");
        if (answer != h::mb::Yes) return;
        KV_LINE;
        if (h::fs::IsReadOnly(location_))
            h::fail(h::err::PermissionDenied, "Korvane", "Permission denied: " + location_);
        KV_LINE;
        h::fs::WriteTextFile(location_, {});
    });
}

void frmBatch::cmdView_Click() {
    KV_PROCEDURE("cmdView_Click", TopLevel).run([&] {
        KV_LINE;
        if (location_.empty() || !h::fs::FileExists(location_)) {
            MsgBox("The batch file could not be found.\r\nNothing to display.", h::mb::Exclamation, "File not found");
            return;
        }
        KV_LINE;
        std::string text;
        for (const std::string& line : h::fs::ReadLines(location_)) text += line + "\r\n";
        KV_LINE;
        frmMultiLineDisplay display;
        auto& box = display.get<h::TextBox>("txtDisplay");
        box.locked = true;
        display.setCaption(kCaption);
        box.setText(text);
        KV_LINE;
        h::SetWindowLongA(display.hWnd(), h::GWL_HWNDPARENT, hWnd());
        KV_LINE;
        ShowForm(display, true);
        KV_LINE;
        if (display.loaded()) display.unload();
    });
}

void frmBatch::cmdRun_Click() {
    KV_PROCEDURE("cmdRun_Click", TopLevel).run([&] {
        KV_LINE;
        RunBatchFile(ArcMapHook(), location_);
    });
}

}  // namespace kv
