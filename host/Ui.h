#pragma once
// Message boxes, input boxes and the UI driver that answers them and drives
// forms: a scripted driver for tests and scripts, which falls back to the
// terminal when a script runs out and input is interactive.
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::host {

class Form;
class Control;
class CommonDialog;

// Message box styles and answers, with the host's values.
namespace mb {
inline constexpr int32_t OKOnly = 0, OKCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5;
inline constexpr int32_t Critical = 16, Question = 32, Exclamation = 48, Information = 64;
inline constexpr int32_t DefaultButton1 = 0, DefaultButton2 = 256, DefaultButton3 = 512;
inline constexpr int32_t OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7;
}  // namespace mb

struct MessageBoxInfo {
    std::string text;
    int32_t style = 0;   // buttons + icon + default button
    std::string title;
    int32_t buttons() const { return style & 0x7; }
    int32_t icon() const { return style & 0x70; }
    // The answers in button order, and the default one.
    std::vector<int32_t> answers() const;
    int32_t defaultAnswer() const;
};
const char* answerName(int32_t answer);
const char* iconName(int32_t icon);
// "OK", "Yes", ... to an answer; 0 when unknown (case-insensitive).
int32_t answerFromName(const std::string& s);

class UiDriver {
public:
    virtual ~UiDriver() = default;
    virtual int32_t messageBox(const MessageBoxInfo& m) = 0;
    // nullopt when cancelled.
    virtual std::optional<std::string> inputBox(const std::string& prompt, const std::string& title,
                                                const std::string& defaultText) = 0;
    // A file dialog; nullopt when cancelled.
    virtual std::optional<std::string> fileDialog(const CommonDialog& dlg, bool save) = 0;
    // Runs a modal form until it is hidden or unloaded.
    virtual void runModal(Form& f) = 0;
    virtual void formShown(Form& f, bool modal) {}
    // The form's Form_Activate has run (it fills lists, sets defaults).
    virtual void formActivated(Form& f) {}
    virtual void formHidden(Form& f) {}
    // A control's state changed (labels, progress bars repaint at once).
    virtual void controlChanged(Control& c) {}
    virtual void showErrorReport(const std::string& text) = 0;
    // A document opened with the desktop's opener.
    virtual void documentOpened(const std::string& path) {}
};

// Sets the driver that message boxes and forms use (the host's).
UiDriver& ui();
void setUi(UiDriver* d);

// A message box; an empty title shows the given application title.
int32_t MsgBox(const std::string& text, int32_t style, const std::string& title);
// An input box: the text typed, or "" when cancelled.
std::string InputBox(const std::string& prompt, const std::string& title, const std::string& defaultText = {});

// Text for a terminal: control characters (C0, DEL, C1, and bytes that are
// not UTF-8) become visible escapes (\t, \n, \r, \xNN, \uNNNN), so that a
// name or a line read from a file can never drive the terminal.
std::string escapeControls(std::string_view text);
// The lines of a multi-line text ("\r\n" or "\n" ends), each escaped.
std::vector<std::string> printableLines(std::string_view text);

// Splits a script line into words: blanks separate, double quotes group
// (a doubled quote inside stands for one), "\n" in a quoted word is a line break.
std::vector<std::string> splitScriptLine(const std::string& line);

// A script line as the driver reads it: its words, and why it cannot be
// carried out as written (empty when it can). `set`, `choose` and `key` take
// the rest of the line after the control as one value, `file` and `input`
// the rest after the action: a value that starts with a double quote is read
// as a quoted word and must end at its closing quote; any other value is the
// text as it stands (blanks at its ends left out). `select` takes words.
// Actions of fixed words (click CONTROL, answer BUTTON, enter, ...) refuse
// words left over.
struct ScriptLine {
    std::vector<std::string> words;
    std::string problem;
};
ScriptLine readScriptLine(const std::string& line);

// Drives forms from script lines, one action per line:
//   set CONTROL VALUE      text, check value (0/1), option (True), list or combo entry, folder
//   choose CONTROL ENTRY   pick a list or combo entry by its text
//   select CONTROL ENTRY…  set the selected entries of a multi-select list
//   click CONTROL          press a button, option or check box (the focus moves there first)
//   check | uncheck CONTROL  set a check box
//   focus CONTROL          move the focus (the control left may refuse)
//   key CONTROL TEXT       type keys into a text box
//   enter | escape         press the default or cancel button
//   close                  close the form's window
//   form NAME              address a shown form by name
//   show                   print the form
//   answer BUTTON          answer the next message box
//   file PATH | cancel     answer the next file dialog
//   input TEXT | cancel    answer the next input box
// Lines starting with # are comments. When the lines run out and an
// interactive input is set, the driver reads further lines from it.
//
// A script is a program: a line that cannot be carried out (an unknown
// action, form, control or entry, a value the control cannot take, a
// disabled or hidden control, an answer that nothing asks for, words left
// over) stops the script. The driver then reads no further line, records the
// failure in scriptError (naming the script and line), and the dialogs go on
// as when the input runs out. A line typed at the terminal that cannot be
// carried out is only refused. An input box shown again (its answer refused)
// that no line answers is cancelled, and stops a script.
class ScriptDriver : public UiDriver {
public:
    explicit ScriptDriver(std::ostream& out);
    void addLines(const std::vector<std::string>& lines);
    void addScriptFile(const std::string& path);   // fails when unreadable
    // Every line of in (read at once), named source in messages.
    void addScript(std::istream& in, const std::string& source);
    // Interactive fallback (a terminal): prompts on out, reads from in.
    void setInteractive(std::istream* in) { interactive_ = in; }
    // Drives the visible modeless forms until none is visible or no input is left.
    void driveModeless();
    // The command has ended: a script line left unread cannot be carried
    // out, and stops the script naming it.
    void finishScript();
    bool exhausted() const { return lines_.empty() && !interactive_; }

    int32_t messageBox(const MessageBoxInfo& m) override;
    std::optional<std::string> inputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
    std::optional<std::string> fileDialog(const CommonDialog& dlg, bool save) override;
    void runModal(Form& f) override;
    void formShown(Form& f, bool modal) override;
    void formActivated(Form& f) override;
    void formHidden(Form& f) override;
    void controlChanged(Control& c) override;
    void showErrorReport(const std::string& text) override;
    void documentOpened(const std::string& path) override;

    // What happened, for tests.
    std::vector<MessageBoxInfo> messages;
    std::vector<std::string> errorReports;
    std::vector<std::string> openedDocuments;
    // Why the script stopped ("script.kvs line 4: ..."); empty while it runs.
    std::optional<std::string> scriptError;
    // Print forms when they are shown.
    bool echoForms = true;
    // Progress bars: draw a progress line on this stream (nullptr: none).
    std::ostream* progressOut = nullptr;

private:
    struct Line {
        std::string text;
        std::string source;   // the script's name; empty for lines a program adds
        int number = 0;
    };
    // Where the action being carried out came from (nullopt: the terminal).
    using Origin = std::optional<Line>;

    std::optional<Line> nextLine(const char* prompt);
    std::optional<std::vector<std::string>> peekAction();
    // Takes the pending action; false (the line refused) when it cannot be
    // carried out as written.
    bool popAction();
    // Runs one action against form f.
    void perform(Form& f, const std::vector<std::string>& words);
    // The current action cannot be carried out: prints why, and stops a script.
    void refuse(const std::string& why);
    void stopScript(const Line& l, const std::string& why);
    Form* target();
    void drive(Form& f);

    std::ostream& out_;
    std::deque<Line> lines_;
    int added_ = 0;   // lines added by addLines, for their numbers
    std::istream* interactive_ = nullptr;
    std::optional<std::vector<std::string>> pending_;
    std::string pendingProblem_;
    bool scripted_ = false;   // lines were given (not only the terminal)
    std::optional<std::string> lastInputTitle_;   // the input box last shown, until anything else happens
    Origin pendingOrigin_, current_;
    std::vector<Form*> shown_;   // visible forms, newest last
    Form* addressed_ = nullptr;
    // Ends a progress line left unfinished (a box or the window's closing
    // comes next).
    void endProgressLine();
    int lastPermille_ = -1;   // progress ticks drawn (40 = done)
    std::string lastStatus_;
};

}  // namespace korvane::host
