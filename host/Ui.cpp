#include "host/Ui.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fmt/format.h>

#include "host/Application.h"
#include "host/Failure.h"
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

std::string printable(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

void indentLines(std::ostream& out, const std::string& text, const char* indent) {
    std::stringstream ss(printable(text));
    std::string line;
    while (std::getline(ss, line)) out << indent << line << "\n";
}

bool truthy(const std::string& v) {
    std::string l = v;
    std::transform(l.begin(), l.end(), l.begin(), ::tolower);
    return l == "1" || l == "true" || l == "yes" || l == "on" || l == "checked";
}
}  // namespace

UiDriver& ui() { return g_driver ? *g_driver : defaultDriver(); }
void setUi(UiDriver* d) { g_driver = d; }

int32_t MsgBox(const std::string& text, int32_t style, const std::string& title) {
    MessageBoxInfo m{text, style, title.empty() ? Application::instance().caption() : title};
    return ui().messageBox(m);
}

std::string InputBox(const std::string& prompt, const std::string& title, const std::string& defaultText) {
    auto r = ui().inputBox(prompt, title.empty() ? Application::instance().caption() : title, defaultText);
    return r ? *r : std::string{};
}

std::vector<std::string> splitScriptLine(const std::string& line) {
    std::vector<std::string> words;
    std::string cur;
    bool inQ = false, have = false;
    for (size_t i = 0; i < line.size(); ++i) {
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
            have = true;
        } else if (c == ' ' || c == '\t') {
            if (have) words.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) words.push_back(cur);
    return words;
}

// ---- ScriptDriver -----------------------------------------------------------

ScriptDriver::ScriptDriver(std::ostream& out) : out_(out) {}

void ScriptDriver::addLines(const std::vector<std::string>& lines) {
    for (auto& l : lines) lines_.push_back(l);
}

void ScriptDriver::addScriptFile(const std::string& path) {
    std::ifstream f(path);
    if (!f) fail(err::FileNotFound, "Script", "Cannot read the script " + path);
    std::string l;
    while (std::getline(f, l)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines_.push_back(l);
    }
}

std::optional<std::string> ScriptDriver::nextLine(const char* prompt) {
    if (!lines_.empty()) {
        std::string l = lines_.front();
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
    return l;
}

std::optional<std::vector<std::string>> ScriptDriver::peekAction() {
    while (!pending_) {
        std::string prompt = "> ";
        if (Form* t = target()) prompt = t->name() + "> ";
        bool fromScript = !lines_.empty();
        auto l = nextLine(prompt.c_str());
        if (!l) return std::nullopt;
        auto words = splitScriptLine(*l);
        if (words.empty() || words[0][0] == '#') continue;
        if (fromScript) out_ << "> " << *l << "\n";
        pending_ = words;
    }
    return pending_;
}

void ScriptDriver::popAction() { pending_.reset(); }

int32_t ScriptDriver::messageBox(const MessageBoxInfo& m) {
    messages.push_back(m);
    const char* icon = iconName(m.icon());
    out_ << fmt::format("Message box \"{}\"{}:\n", printable(m.title), *icon ? fmt::format(" ({})", icon) : "");
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
        popAction();
        int32_t a = action->size() > 1 ? answerFromName((*action)[1]) : 0;
        if (std::find(answers.begin(), answers.end(), a) != answers.end()) {
            out_ << "  -> " << answerName(a) << "\n";
            return a;
        }
        out_ << "  (no such button: " << (action->size() > 1 ? (*action)[1] : "") << ")\n";
    }
}

std::optional<std::string> ScriptDriver::inputBox(const std::string& prompt, const std::string& title,
                                                  const std::string& defaultText) {
    out_ << fmt::format("Input box \"{}\":\n", printable(title));
    indentLines(out_, prompt, "  | ");
    out_ << fmt::format("  default \"{}\"\n", defaultText);
    auto action = peekAction();
    if (action && (*action)[0] == "input") {
        popAction();
        return action->size() > 1 ? (*action)[1] : std::string{};
    }
    if (action && (*action)[0] == "cancel") {
        popAction();
        return std::nullopt;
    }
    return defaultText;
}

std::optional<std::string> ScriptDriver::fileDialog(const CommonDialog& dlg, bool save) {
    out_ << fmt::format("{} dialog \"{}\" (filter {}), file name \"{}\"\n", save ? "Save" : "Open", dlg.dialogTitle,
                        dlg.filter, dlg.fileName);
    auto action = peekAction();
    if (action && (*action)[0] == "file" && action->size() > 1) {
        popAction();
        return (*action)[1];
    }
    if (action && (*action)[0] == "cancel") popAction();
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
        popAction();
        perform(t ? *t : f, *action);
    }
    addressed_ = previous;
}

void ScriptDriver::driveModeless() {
    while (Form* t = target()) {
        auto action = peekAction();
        if (!action) break;
        popAction();
        perform(*t, *action);
    }
}

void ScriptDriver::drive(Form& f) { runModal(f); }

void ScriptDriver::perform(Form& f, const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    auto arg = [&](size_t i) -> const std::string& {
        static const std::string empty;
        return i < w.size() ? w[i] : empty;
    };
    auto control = [&]() -> Control* {
        Control* c = f.find(arg(1));
        if (!c) out_ << fmt::format("  ({} has no control \"{}\")\n", f.name(), arg(1));
        return c;
    };
    auto reachable = [&](Control* c) {
        if (!c->usable()) {
            out_ << fmt::format("  ({} is disabled)\n", c->name());
            return false;
        }
        if (c->focusable() && !f.focus(*c)) {
            out_ << fmt::format("  (the focus stays in {})\n", f.activeControl() ? f.activeControl()->name() : "");
            return false;
        }
        return true;
    };
    try {
        if (verb == "show") {
            out_ << f.describe();
        } else if (verb == "help" || verb == "?") {
            out_ << "  show | set CONTROL VALUE | choose CONTROL ENTRY | select LIST ENTRY... | click CONTROL\n"
                    "  check/uncheck CONTROL | focus CONTROL | key CONTROL TEXT | enter | escape | close\n"
                    "  form NAME | answer BUTTON (message boxes) | file PATH | input TEXT | cancel\n";
        } else if (verb == "form") {
            addressed_ = nullptr;
            for (Form* s : shown_)
                if (s->name() == arg(1)) addressed_ = s;
            if (!addressed_) out_ << fmt::format("  (no form \"{}\" is shown)\n", arg(1));
        } else if (verb == "enter" || verb == "escape") {
            CommandButton* b = verb == "enter" ? f.defaultButton() : f.cancelButton();
            if (b && b->usable()) b->click();
        } else if (verb == "close") {
            if (!f.unload()) out_ << fmt::format("  ({} stays open)\n", f.name());
        } else if (verb == "answer" || verb == "file" || verb == "input" || verb == "cancel") {
            out_ << fmt::format("  (nothing asks for \"{}\" now)\n", verb);
        } else if (verb == "click" || verb == "focus" || verb == "set" || verb == "choose" || verb == "select" ||
                   verb == "key" || verb == "check" || verb == "uncheck") {
            Control* c = control();
            if (!c || !reachable(c)) return;
            if (verb == "focus") return;
            if (verb == "click") {
                if (auto* b = dynamic_cast<CommandButton*>(c)) b->click();
                else if (auto* o = dynamic_cast<OptionButton*>(c)) o->setValue(true);
                else if (auto* k = dynamic_cast<CheckBox*>(c)) k->setValue(k->checked() ? Unchecked : Checked);
                else c->fireClick();
            } else if (verb == "check" || verb == "uncheck") {
                if (auto* k = dynamic_cast<CheckBox*>(c)) k->setValue(verb == "check" ? Checked : Unchecked);
            } else if (verb == "key") {
                if (auto* t = dynamic_cast<TextBox*>(c))
                    for (char ch : arg(2)) t->typeKey(static_cast<unsigned char>(ch));
            } else if (verb == "select") {
                if (auto* d = dynamic_cast<DirListBox*>(c)) {   // highlight a subfolder by name
                    auto subs = d->subfolders();
                    auto it = std::find(subs.begin(), subs.end(), arg(2));
                    if (it == subs.end()) out_ << fmt::format("  ({} has no folder \"{}\")\n", c->name(), arg(2));
                    else d->setListIndex(static_cast<int32_t>(it - subs.begin()));
                    return;
                }
                auto* l = dynamic_cast<ListBox*>(c);
                if (!l) return;
                std::vector<std::string> want(w.begin() + 2, w.end());
                for (int32_t i = 0; i < l->listCount(); ++i) {
                    bool s = std::find(want.begin(), want.end(), l->list(i)) != want.end();
                    if (l->selected(i) != s) l->setSelected(i, s);
                }
            } else {  // set, choose
                const std::string& v = arg(2);
                if (auto* t = dynamic_cast<TextBox*>(c)) {
                    if (t->locked) out_ << fmt::format("  ({} is read-only)\n", c->name());
                    else t->setText(v);
                } else if (auto* k = dynamic_cast<CheckBox*>(c)) {
                    k->setValue(truthy(v) ? Checked : Unchecked);
                } else if (auto* o = dynamic_cast<OptionButton*>(c)) {
                    o->setValue(truthy(v));
                } else if (auto* cb = dynamic_cast<ComboBox*>(c)) {
                    int32_t i = cb->find(v);
                    if (i >= 0) cb->setListIndex(i);
                    else if (cb->style == ComboStyle::DropDownList || verb == "choose")
                        out_ << fmt::format("  ({} has no entry \"{}\")\n", c->name(), v);
                    else cb->setText(v);
                } else if (auto* l = dynamic_cast<ListBox*>(c)) {
                    int32_t i = l->find(v);
                    if (i < 0) out_ << fmt::format("  ({} has no entry \"{}\")\n", c->name(), v);
                    else if (l->multiSelect != MultiSelect::None) l->setSelected(i, true);
                    else l->setListIndex(i);
                } else if (auto* d = dynamic_cast<DirListBox*>(c)) {
                    d->setPath(v);
                } else if (auto* dr = dynamic_cast<DriveListBox*>(c)) {
                    dr->setDrive(v);
                } else {
                    out_ << fmt::format("  ({} takes no value)\n", c->name());
                }
            }
        } else {
            out_ << fmt::format("  (unknown action \"{}\")\n", verb);
        }
    } catch (const Failure& e) {
        out_ << fmt::format("  (refused: {})\n", e.description());
    }
}

void ScriptDriver::formShown(Form& f, bool modal) {
    if (std::find(shown_.begin(), shown_.end(), &f) == shown_.end()) shown_.push_back(&f);
    if (echoForms) out_ << f.describe();
}

void ScriptDriver::formHidden(Form& f) {
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
        *progressOut << lastStatus_ << "\n";
        lastPermille_ = -1;
        return;
    }
    auto* bar = dynamic_cast<ProgressBar*>(&c);
    if (!bar) return;
    float span = bar->max() - bar->min();
    int ticks = span > 0 ? static_cast<int>((bar->value() - bar->min()) / span * 40.0f) : 0;
    ticks = std::clamp(ticks, 0, 40);
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
    out_ << "Opening " << path << "\n";
}

}  // namespace korvane::host
