#include "host/Ui.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fmt/format.h>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/Forms.h"

namespace korvane::host {

std::vector<int32_t> MessageBoxInfo::answers() const {
    switch (buttons()) {
        case mb::OKCancel: return {mb::OK, mb::Cancel};
        case mb::AbortRetryIgnore: return {mb::Abort, mb::Retry, mb::Ignore};
        case mb::YesNoCancel: return {mb::Yes, mb::No, mb::Cancel};
        case mb::YesNo: return {mb::Yes, mb::No};
        case mb::RetryCancel: return {mb::Retry, mb::Cancel};
        default: return {mb::OK};
    }
}

int32_t MessageBoxInfo::defaultAnswer() const {
    auto a = answers();
    size_t i = static_cast<size_t>((style & 0xF00) >> 8);
    return a[std::min(i, a.size() - 1)];
}

const char* answerName(int32_t a) {
    switch (a) {
        case mb::OK: return "OK";
        case mb::Cancel: return "Cancel";
        case mb::Abort: return "Abort";
        case mb::Retry: return "Retry";
        case mb::Ignore: return "Ignore";
        case mb::Yes: return "Yes";
        case mb::No: return "No";
        default: return "?";
    }
}

const char* iconName(int32_t icon) {
    switch (icon) {
        case mb::Critical: return "critical";
        case mb::Question: return "question";
        case mb::Exclamation: return "exclamation";
        case mb::Information: return "information";
        default: return "";
    }
}

int32_t answerFromName(const std::string& s) {
    std::string l = s;
    std::transform(l.begin(), l.end(), l.begin(), ::tolower);
    for (int32_t a = mb::OK; a <= mb::No; ++a) {
        std::string n = answerName(a);
        std::transform(n.begin(), n.end(), n.begin(), ::tolower);
        if (n == l) return a;
    }
    return 0;
}

namespace {
UiDriver* g_driver = nullptr;

UiDriver& defaultDriver() {
    static ScriptDriver d(std::cout);
    return d;
}

void indentLines(std::ostream& out, const std::string& text, const char* indent) {
    for (const std::string& line : printableLines(text)) out << indent << line << "\n";
}

// A check box or option value: true, false, or nullopt for a word that is neither.
std::optional<bool> flagValue(const std::string& v) {
    std::string l = v;
    std::transform(l.begin(), l.end(), l.begin(), ::tolower);
    for (const char* t : {"1", "true", "yes", "on", "checked"})
        if (l == t) return true;
    for (const char* f : {"0", "false", "no", "off", "unchecked"})
        if (l == f) return false;
    return std::nullopt;
}

// The length of the UTF-8 sequence at s[i], or 0 when it is not one.
size_t utf8Length(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80) return 0;
    if (n == 3 && c == 0xE0 && b(i + 1) < 0xA0) return 0;   // overlong
    if (n == 3 && c == 0xED && b(i + 1) >= 0xA0) return 0;  // surrogate
    if (n == 4 && c == 0xF0 && b(i + 1) < 0x90) return 0;   // overlong
    if (n == 4 && c == 0xF4 && b(i + 1) >= 0x90) return 0;  // past U+10FFFF
    return n;
}

// The actions that answer a message box, file dialog or input box.
bool isAnswer(const std::string& verb) {
    return verb == "answer" || verb == "file" || verb == "input" || verb == "cancel";
}

// An entry of a list or combo box by its text, or "#N" (1-based) by its
// position. -1 when there is none; -2 when several entries have the text.
int32_t findEntry(const ListControl& l, const std::string& entry, std::string& several) {
    std::vector<int32_t> at;
    for (int32_t i = 0; i < l.listCount(); ++i)
        if (l.list(i) == entry) at.push_back(i);
    if (at.size() == 1) return at[0];
    if (at.size() > 1) {
        several.clear();
        for (int32_t i : at) several += fmt::format("{}#{}", several.empty() ? "" : ", ", i + 1);
        return -2;
    }
    if (entry.size() > 1 && entry[0] == '#' && entry.find_first_not_of("0123456789", 1) == std::string::npos &&
        entry.size() < 10) {
        int32_t n = std::stoi(entry.substr(1));
        if (n >= 1 && n <= l.listCount()) return n - 1;
    }
    return -1;
}
}  // namespace

std::string escapeControls(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\t') {
            out += "\\t", ++i;
        } else if (c == '\n') {
            out += "\\n", ++i;
        } else if (c == '\r') {
            out += "\\r", ++i;
        } else if (c < 0x80) {
            out += fmt::format("\\x{:02x}", c), ++i;
        } else if (size_t n = utf8Length(s, i)) {
            const unsigned char next = static_cast<unsigned char>(s[i + 1]);
            if (c == 0xC2 && next < 0xA0) out += fmt::format("\\u{:04x}", next);   // C1 control
            else out.append(s.substr(i, n));
            i += n;
        } else {
            out += fmt::format("\\x{:02x}", c), ++i;
        }
    }
    return out;
}

std::vector<std::string> printableLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (end == std::string_view::npos) {
            if (!line.empty() || lines.empty()) lines.push_back(escapeControls(line));
            break;
        }
        lines.push_back(escapeControls(line));
        start = end + 1;
    }
    return lines;
}

UiDriver& ui() { return g_driver ? *g_driver : defaultDriver(); }
void setUi(UiDriver* d) { g_driver = d; }

int32_t MsgBox(const std::string& text, int32_t style, const std::string& title) {
    MessageBoxInfo m{withoutTemporaryNames(text), style, title.empty() ? Application::instance().caption() : title};
    return ui().messageBox(m);
}

std::string InputBox(const std::string& prompt, const std::string& title, const std::string& defaultText) {
    auto r = ui().inputBox(prompt, title.empty() ? Application::instance().caption() : title, defaultText);
    return r ? *r : std::string{};
}

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The word that starts at line[i] (blanks skipped first): double quotes
// group, a doubled quote inside stands for one, "\n" inside is a line break.
// i moves past it. nullopt at the end of the line; an unclosed quote sets open.
std::optional<std::string> scanWord(const std::string& line, size_t& i, bool& open) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) return std::nullopt;
    std::string cur;
    bool inQ = false;
    for (; i < line.size(); ++i) {
        char c = line[i];
        if (inQ) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    cur += '"';
                    ++i;
                } else {
                    inQ = false;
                }
            } else if (c == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
                cur += "\r\n";
                ++i;
            } else {
                cur += c;
            }
        } else if (c == '"') {
            inQ = true;
        } else if (isBlank(c)) {
            break;
        } else {
            cur += c;
        }
    }
    open = open || inQ;
    return cur;
}

// The rest of the line from line[i] as one value: a value that starts with a
// double quote ends at its closing quote (nothing may follow it), any other
// is the text as it stands, without the blanks at its ends.
std::optional<std::string> restValue(const std::string& line, size_t i, std::string& problem) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) return std::nullopt;
    if (line[i] != '"') {
        size_t end = line.size();
        while (end > i && isBlank(line[end - 1])) --end;
        return line.substr(i, end - i);
    }
    bool open = false;
    size_t j = i;
    std::string value = *scanWord(line, j, open);
    while (j < line.size() && isBlank(line[j])) ++j;
    if (open)
        problem = "the quote that starts the value is not closed";
    else if (j < line.size())
        problem = fmt::format("\"{}\" follows the closing quote of the value (quote the whole value, writing \"\" "
                              "for a quote inside it)", line.substr(j));
    return value;
}

// How many words an action takes after its name (select takes any number).
std::optional<size_t> argumentCount(const std::string& verb) {
    for (const char* v : {"show", "help", "?", "enter", "escape", "close", "cancel"})
        if (verb == v) return 0;
    for (const char* v : {"click", "focus", "check", "uncheck", "form", "answer"})
        if (verb == v) return 1;
    return std::nullopt;
}
}  // namespace

std::vector<std::string> splitScriptLine(const std::string& line) {
    std::vector<std::string> words;
    bool open = false;
    size_t i = 0;
    while (auto w = scanWord(line, i, open)) words.push_back(std::move(*w));
    return words;
}

ScriptLine readScriptLine(const std::string& line) {
    ScriptLine r;
    bool open = false;
    size_t i = 0;
    auto verb = scanWord(line, i, open);
    if (!verb) return r;
    r.words.push_back(*verb);
    if (!r.words[0].empty() && r.words[0][0] == '#') return r;
    const bool controlAndValue = *verb == "set" || *verb == "choose" || *verb == "key";
    const bool value = *verb == "file" || *verb == "input";
    if (controlAndValue || value) {
        if (controlAndValue)
            if (auto control = scanWord(line, i, open)) r.words.push_back(*control);
        if (auto v = restValue(line, i, r.problem)) r.words.push_back(*v);
    } else {
        while (auto w = scanWord(line, i, open)) r.words.push_back(std::move(*w));
        auto count = argumentCount(*verb);
        if (count && r.words.size() > *count + 1)
            r.problem = fmt::format("\"{}\" takes {}; \"{}\" is left over", *verb,
                                    *count == 0 ? "nothing after it" : "one word (quote a name with blanks)",
                                    r.words[*count + 1]);
    }
    if (open && r.problem.empty()) r.problem = "a quote is not closed";
    return r;
}

// ---- ScriptDriver -----------------------------------------------------------

ScriptDriver::ScriptDriver(std::ostream& out) : out_(out) {}

void ScriptDriver::addLines(const std::vector<std::string>& lines) {
    for (auto& l : lines) lines_.push_back({l, "", ++added_});
    scripted_ = scripted_ || !lines.empty();
}

void ScriptDriver::addScriptFile(const std::string& path) {
    std::ifstream f(path);
    if (!f) fail(err::FileNotFound, "Script", "Cannot read the script " + path);
    addScript(f, path);
}

void ScriptDriver::addScript(std::istream& in, const std::string& source) {
    std::string l;
    int number = 0;
    while (std::getline(in, l)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines_.push_back({l, source, ++number});
    }
    scripted_ = true;
}

std::optional<ScriptDriver::Line> ScriptDriver::nextLine(const char* prompt) {
    if (!lines_.empty()) {
        Line l = lines_.front();
        lines_.pop_front();
        return l;
    }
    if (!interactive_) return std::nullopt;
    out_ << prompt << std::flush;
    std::string l;
    if (!std::getline(*interactive_, l)) {
        interactive_ = nullptr;
        out_ << "\n";
        return std::nullopt;
    }
    return Line{l, "", 0};
}

std::optional<std::vector<std::string>> ScriptDriver::peekAction() {
    while (!pending_) {
        std::string prompt = "> ";
        if (Form* t = target()) prompt = t->name() + "> ";
        bool fromScript = !lines_.empty();
        auto l = nextLine(prompt.c_str());
        if (!l) return std::nullopt;
        ScriptLine read = readScriptLine(l->text);
        if (read.words.empty() || read.words[0][0] == '#') continue;
        if (fromScript) out_ << "> " << escapeControls(l->text) << "\n";
        pending_ = std::move(read.words);
        pendingProblem_ = std::move(read.problem);
        pendingOrigin_ = fromScript ? Origin(*l) : std::nullopt;
    }
    return pending_;
}

bool ScriptDriver::popAction() {
    pending_.reset();
    current_ = pendingOrigin_;
    pendingOrigin_.reset();
    std::string problem = std::move(pendingProblem_);
    pendingProblem_.clear();
    if (problem.empty()) return true;
    refuse(problem);
    return false;
}

void ScriptDriver::refuse(const std::string& why) {
    out_ << "  (" << escapeControls(why) << ")\n";
    if (current_) stopScript(*current_, why);
}

void ScriptDriver::stopScript(const Line& l, const std::string& why) {
    if (scriptError) return;
    std::string where = l.source.empty() ? fmt::format("script line {}", l.number)
                                         : fmt::format("{} line {}", l.source, l.number);
    scriptError = fmt::format("{} (\"{}\"): {}; the script stops there", where, l.text, why);
    out_ << "  (" << escapeControls(*scriptError) << ")\n";
    // Nothing further is read: the dialogs go on as when the input ends.
    lines_.clear();
    interactive_ = nullptr;
    pending_.reset();
    pendingOrigin_.reset();
    pendingProblem_.clear();
}

void ScriptDriver::finishScript() {
    if (lines_.empty() && !pending_) return;
    auto action = peekAction();
    if (!action || !pendingOrigin_) return;
    const std::string verb = (*action)[0];
    if (!popAction()) return;
    refuse(isAnswer(verb) ? fmt::format("nothing asks for \"{}\": the command has ended", verb)
                          : "the command has ended, and no dialog is open to carry it out");
}

void ScriptDriver::endProgressLine() {
    if (progressOut && lastPermille_ >= 0 && lastPermille_ < 40) {
        *progressOut << "\n";
        progressOut->flush();
    }
    lastPermille_ = -1;
}

int32_t ScriptDriver::messageBox(const MessageBoxInfo& m) {
    endProgressLine();
    messages.push_back(m);
    const char* icon = iconName(m.icon());
    out_ << fmt::format("Message box \"{}\"{}:\n", escapeControls(m.title), *icon ? fmt::format(" ({})", icon) : "");
    indentLines(out_, m.text, "  | ");
    std::string buttons;
    for (int32_t a : m.answers()) buttons += fmt::format("[{}] ", answerName(a));
    out_ << "  " << buttons << "\n";
    auto answers = m.answers();
    for (;;) {
        auto action = peekAction();
        if (!action || (*action)[0] != "answer") {
            int32_t d = m.defaultAnswer();
            out_ << "  -> " << answerName(d) << "\n";
            return d;
        }
        if (!popAction()) continue;
        int32_t a = action->size() > 1 ? answerFromName((*action)[1]) : 0;
        if (std::find(answers.begin(), answers.end(), a) != answers.end()) {
            out_ << "  -> " << answerName(a) << "\n";
            return a;
        }
        refuse(fmt::format("the message box has no button \"{}\"", action->size() > 1 ? (*action)[1] : ""));
    }
}

std::optional<std::string> ScriptDriver::inputBox(const std::string& prompt, const std::string& title,
                                                  const std::string& defaultText) {
    out_ << fmt::format("Input box \"{}\":\n", escapeControls(title));
    indentLines(out_, prompt, "  | ");
    out_ << fmt::format("  default \"{}\"\n", escapeControls(defaultText));
    // The same box again with only message boxes between: its last answer
    // was refused.
    const bool again = lastInputTitle_ == title;
    lastInputTitle_ = title;
    auto action = peekAction();
    if (action && (*action)[0] == "input") {
        if (!popAction()) return std::nullopt;
        return action->size() > 1 ? (*action)[1] : std::string{};
    }
    if (action && (*action)[0] == "cancel") {
        popAction();
        return std::nullopt;
    }
    if (!again) return defaultText;
    // Taking the default here would carry out what the user never gave.
    out_ << "  -> cancelled (asked again, and no line answers it)\n";
    std::string why = fmt::format("the input box \"{}\" refused the answer and asks again, and no line answers it",
                                  title);
    if (current_) stopScript(*current_, why);
    else if (scripted_ && !scriptError) scriptError = fmt::format("the script ended: {}", why);
    return std::nullopt;
}

std::optional<std::string> ScriptDriver::fileDialog(const CommonDialog& dlg, bool save) {
    lastInputTitle_.reset();
    out_ << fmt::format("{} dialog \"{}\" (filter {}), file name \"{}\"\n", save ? "Save" : "Open",
                        escapeControls(dlg.dialogTitle), escapeControls(dlg.filter), escapeControls(dlg.fileName));
    auto action = peekAction();
    if (action && (*action)[0] == "file") {
        if (popAction()) {
            if (action->size() > 1) return (*action)[1];
            refuse("\"file\" needs the file's path");
        }
    } else if (action && (*action)[0] == "cancel") {
        popAction();
    }
    out_ << "  -> cancelled\n";
    return std::nullopt;
}

Form* ScriptDriver::target() {
    if (addressed_ && std::find(shown_.begin(), shown_.end(), addressed_) != shown_.end()) return addressed_;
    return shown_.empty() ? nullptr : shown_.back();
}

void ScriptDriver::runModal(Form& f) {
    Form* previous = addressed_;
    addressed_ = &f;
    while (f.loaded() && f.visible()) {
        Form* t = target();
        auto action = peekAction();
        if (!action) {
            out_ << fmt::format("(no more input: closing {})\n", f.name());
            if (!f.unload()) f.hide();
            break;
        }
        if (popAction()) perform(t ? *t : f, *action);
    }
    addressed_ = previous;
}

void ScriptDriver::driveModeless() {
    while (Form* t = target()) {
        auto action = peekAction();
        if (!action) break;
        if (popAction()) perform(*t, *action);
    }
}

void ScriptDriver::drive(Form& f) { runModal(f); }

void ScriptDriver::perform(Form& f, const std::vector<std::string>& w) {
    lastInputTitle_.reset();
    const std::string& verb = w[0];
    auto arg = [&](size_t i) -> const std::string& {
        static const std::string empty;
        return i < w.size() ? w[i] : empty;
    };
    auto control = [&]() -> Control* {
        Control* c = f.find(arg(1));
        if (!c) refuse(fmt::format("{} has no control \"{}\"", f.name(), arg(1)));
        return c;
    };
    auto usable = [&](Control* c) {
        if (c->usable()) return true;
        bool shown = true;
        for (const Control* k = c; k; k = k->container()) shown = shown && k->visible();
        refuse(fmt::format("{} is {}", c->name(), shown ? "disabled" : "not shown"));
        return false;
    };
    auto reachable = [&](Control* c) {
        if (!usable(c)) return false;
        if (c->focusable() && !f.focus(*c)) {
            out_ << fmt::format("  (the focus stays in {})\n", f.activeControl() ? f.activeControl()->name() : "");
            return false;
        }
        return true;
    };
    // The entry of a list or combo box that a script names; -1 after a refusal.
    auto entry = [&](ListControl& l, const std::string& v) {
        std::string several;
        int32_t i = findEntry(l, v, several);
        if (i == -2)
            refuse(fmt::format("{} has several entries \"{}\" ({}); choose one by its position, as \"#N\"", l.name(),
                               v, several));
        else if (i < 0)
            refuse(fmt::format("{} has no entry \"{}\"", l.name(), v));
        return i;
    };
    auto flag = [&](Control& c, const std::string& v) {
        auto b = flagValue(v);
        if (!b) refuse(fmt::format("{} takes 1 or 0 (checked or not), not \"{}\"", c.name(), v));
        return b;
    };
    try {
        if (verb == "show") {
            out_ << f.describe();
        } else if (verb == "help" || verb == "?") {
            out_ << "  show | set CONTROL VALUE | choose CONTROL ENTRY | select LIST ENTRY... | click CONTROL\n"
                    "  check/uncheck CONTROL | focus CONTROL | key CONTROL TEXT | enter | escape | close\n"
                    "  form NAME | answer BUTTON (message boxes) | file PATH | input TEXT | cancel\n"
                    "  an entry is named by its text, or by its position as #N\n";
        } else if (verb == "form") {
            addressed_ = nullptr;
            for (Form* s : shown_)
                if (s->name() == arg(1)) addressed_ = s;
            if (!addressed_) refuse(fmt::format("no form \"{}\" is shown", arg(1)));
        } else if (verb == "enter" || verb == "escape") {
            CommandButton* b = verb == "enter" ? f.defaultButton() : f.cancelButton();
            if (!b) return refuse(fmt::format("{} has no {} button", f.name(), verb == "enter" ? "default" : "cancel"));
            if (usable(b)) b->click();   // the focus stays where it is
        } else if (verb == "close") {
            if (!f.unload()) out_ << fmt::format("  ({} stays open)\n", f.name());
        } else if (isAnswer(verb)) {
            refuse(fmt::format("nothing asks for \"{}\": no {} is open", verb,
                               verb == "answer"  ? "message box"
                               : verb == "file"  ? "file dialog"
                               : verb == "input" ? "input box"
                                                 : "file dialog or input box"));
        } else if (verb == "click" || verb == "focus" || verb == "set" || verb == "choose" || verb == "select" ||
                   verb == "key" || verb == "check" || verb == "uncheck") {
            Control* c = control();
            if (!c) return;
            // What the control takes is checked before the focus moves to it.
            auto* k = dynamic_cast<CheckBox*>(c);
            if ((verb == "check" || verb == "uncheck") && !k)
                return refuse(fmt::format("{} is not a check box", c->name()));
            if (verb == "key" && !dynamic_cast<TextBox*>(c))
                return refuse(fmt::format("{} is not a text box", c->name()));
            if (verb == "select" && !dynamic_cast<ListBox*>(c) && !dynamic_cast<DirListBox*>(c))
                return refuse(fmt::format("{} is not a list box", c->name()));
            if ((verb == "set" || verb == "choose") && (k || dynamic_cast<OptionButton*>(c)) && !flag(*c, arg(2)))
                return;
            if (!reachable(c)) return;
            if (verb == "focus") return;
            if (verb == "click") {
                if (auto* b = dynamic_cast<CommandButton*>(c)) b->click();
                else if (auto* o = dynamic_cast<OptionButton*>(c)) o->setValue(true);
                else if (k) k->setValue(k->checked() ? Unchecked : Checked);
                else c->fireClick();
            } else if (verb == "check" || verb == "uncheck") {
                k->setValue(verb == "check" ? Checked : Unchecked);
            } else if (verb == "key") {
                for (char ch : arg(2)) static_cast<TextBox*>(c)->typeKey(static_cast<unsigned char>(ch));
            } else if (verb == "select") {
                if (auto* d = dynamic_cast<DirListBox*>(c)) {   // highlight a subfolder by name
                    auto subs = d->subfolders();
                    auto it = std::find(subs.begin(), subs.end(), arg(2));
                    if (it == subs.end()) return refuse(fmt::format("{} has no folder \"{}\"", c->name(), arg(2)));
                    d->setListIndex(static_cast<int32_t>(it - subs.begin()));
                    return;
                }
                auto* l = static_cast<ListBox*>(c);
                std::vector<int32_t> want;
                for (size_t a = 2; a < w.size(); ++a) {
                    int32_t i = entry(*l, w[a]);
                    if (i < 0) return;
                    want.push_back(i);
                }
                for (int32_t i = 0; i < l->listCount(); ++i) {
                    bool s = std::find(want.begin(), want.end(), i) != want.end();
                    if (l->selected(i) != s) l->setSelected(i, s);
                }
            } else {  // set, choose
                const std::string& v = arg(2);
                if (auto* t = dynamic_cast<TextBox*>(c)) {
                    if (t->locked) refuse(fmt::format("{} is read-only", c->name()));
                    else t->setText(v);
                } else if (k) {
                    k->setValue(*flagValue(v) ? Checked : Unchecked);
                } else if (auto* o = dynamic_cast<OptionButton*>(c)) {
                    o->setValue(*flagValue(v));
                } else if (auto* cb = dynamic_cast<ComboBox*>(c)) {
                    std::string several;
                    int32_t i = findEntry(*cb, v, several);
                    if (i >= 0) cb->setListIndex(i);
                    else if (i == -2 || cb->style == ComboStyle::DropDownList || verb == "choose") entry(*cb, v);
                    else cb->setText(v);
                } else if (auto* l = dynamic_cast<ListBox*>(c)) {
                    int32_t i = entry(*l, v);
                    if (i < 0) return;
                    if (l->multiSelect != MultiSelect::None) l->setSelected(i, true);
                    else l->setListIndex(i);
                } else if (auto* d = dynamic_cast<DirListBox*>(c)) {
                    d->setPath(v);
                } else if (auto* dr = dynamic_cast<DriveListBox*>(c)) {
                    dr->setDrive(v);
                } else {
                    refuse(fmt::format("{} takes no value", c->name()));
                }
            }
        } else {
            refuse(fmt::format("unknown action \"{}\"", verb));
        }
    } catch (const Failure& e) {
        refuse(fmt::format("refused: {}", e.description()));
    }
}

void ScriptDriver::formShown(Form& f, bool modal) {
    lastInputTitle_.reset();
    if (std::find(shown_.begin(), shown_.end(), &f) == shown_.end()) shown_.push_back(&f);
}

void ScriptDriver::formActivated(Form& f) {
    if (echoForms) out_ << f.describe();
}

void ScriptDriver::formHidden(Form& f) {
    endProgressLine();
    std::erase(shown_, &f);
    if (addressed_ == &f) addressed_ = nullptr;
}

void ScriptDriver::controlChanged(Control& c) {
    if (!progressOut || !c.form().visible()) return;
    if (auto* label = dynamic_cast<Label*>(&c)) {
        // The status line of a progress window starts a new progress line.
        auto controls = c.form().controls();
        bool progressWindow = std::any_of(controls.begin(), controls.end(),
                                          [](Control* k) { return k->type() == ControlType::ProgressBar; });
        if (!progressWindow || label->caption() == lastStatus_) return;
        lastStatus_ = label->caption();
        if (lastPermille_ >= 0 && lastPermille_ < 40) *progressOut << "\n";
        *progressOut << escapeControls(lastStatus_) << "\n";
        lastPermille_ = -1;
        return;
    }
    auto* bar = dynamic_cast<ProgressBar*>(&c);
    if (!bar) return;
    float span = bar->max() - bar->min();
    int ticks = span > 0 ? static_cast<int>((bar->value() - bar->min()) / span * 40.0f) : 0;
    ticks = std::clamp(ticks, 0, 40);
    // A bar at its start draws nothing yet: the stage's caption, often set
    // just after, comes first, and a stage that never moves leaves no "0".
    if (ticks == 0 && lastPermille_ < 0) return;
    if (ticks < lastPermille_) {   // a new phase starts
        if (lastPermille_ < 40) *progressOut << "\n";
        lastPermille_ = -1;
    }
    for (int t = lastPermille_ + 1; t <= ticks; ++t) {
        if (t % 4 == 0) *progressOut << t / 4 * 10;
        else *progressOut << ".";
        if (t == 40) *progressOut << " - done.\n";
    }
    if (ticks > lastPermille_) {
        lastPermille_ = ticks;
        progressOut->flush();
    }
}

void ScriptDriver::showErrorReport(const std::string& text) {
    errorReports.push_back(text);
    out_ << "Error report:\n";
    indentLines(out_, text, "  ");
}

void ScriptDriver::documentOpened(const std::string& path) {
    openedDocuments.push_back(path);
    out_ << "Opening " << escapeControls(path) << "\n";
}

}  // namespace korvane::host
