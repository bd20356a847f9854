#include "host/Forms.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/Ui.h"

namespace korvane::host {

namespace {
// Runtime error numbers of the controls.
constexpr int32_t InvalidPropertyValue = 380;
constexpr int32_t TextReadOnly = 383;
constexpr int32_t CancelSelected = 32755;

// A value as the form prints it: quoted, a line end as \n, every other
// control character escaped.
std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        if (s[i] == '"') out += '"';
        out += s[i];
    }
    return "\"" + escapeControls(out.substr(1)) + "\"";
}

intptr_t nextHwnd() {
    static intptr_t next = 0x20000;
    return next += 0x10;
}

std::map<intptr_t, Form*>& windows() {
    static std::map<intptr_t, Form*> w;
    return w;
}
}  // namespace

Form* formFromHandle(intptr_t hwnd) {
    auto it = windows().find(hwnd);
    return it == windows().end() ? nullptr : it->second;
}

intptr_t SetWindowLongA(intptr_t hwnd, int32_t index, intptr_t newValue) {
    Form* f = formFromHandle(hwnd);
    if (!f || index != GWL_HWNDPARENT) return 0;
    intptr_t old = f->owner();
    f->setOwner(newValue);
    return old;
}

const char* controlTypeName(ControlType t) {
    switch (t) {
        case ControlType::Label: return "Label";
        case ControlType::TextBox: return "TextBox";
        case ControlType::CommandButton: return "Button";
        case ControlType::CheckBox: return "CheckBox";
        case ControlType::OptionButton: return "Option";
        case ControlType::Frame: return "Frame";
        case ControlType::ListBox: return "ListBox";
        case ControlType::ComboBox: return "ComboBox";
        case ControlType::DriveListBox: return "DriveList";
        case ControlType::DirListBox: return "FolderList";
        case ControlType::ProgressBar: return "ProgressBar";
        case ControlType::CommonDialog: return "FileDialog";
    }
    return "Control";
}

// ---- Control -------------------------------------------------------------

Control::Control(Form& form, ControlType type, std::string name) : form_(form), type_(type), name_(std::move(name)) {}

void Control::setEnabled(bool e) {
    if (enabled_ == e) return;
    enabled_ = e;
    changed();
}

void Control::setVisible(bool v) {
    if (visible_ == v) return;
    visible_ = v;
    changed();
}

bool Control::usable() const {
    for (const Control* c = this; c; c = c->container())
        if (!c->enabled() || !c->visible()) return false;
    return true;
}

void Control::setFocus() {
    if (!usable() || !focusable())
        fail(5, "Control", "Invalid procedure call or argument");   // cannot take the focus
    form_.focus(*this);
}

void Control::changed() { form_.controlChanged(*this); }

void Control::fireClick() {
    changed();
    if (onClick) onClick();
}

void Control::fireChange() {
    changed();
    if (onChange) onChange();
}

void Label::setCaption(std::string c) {
    caption_ = std::move(c);
    changed();   // repaints at once
}
std::string Label::describe() const { return quoted(caption_); }

void TextBox::setText(std::string t) {
    if (maxLength > 0 && static_cast<int32_t>(t.size()) > maxLength) t.resize(static_cast<size_t>(maxLength));
    if (t == text_) return;
    text_ = std::move(t);
    fireChange();
}

void TextBox::typeKey(int keyAscii) {
    if (onKeyPress) onKeyPress(keyAscii);
    if (keyAscii == 0 || locked) return;
    if (keyAscii == 8) {
        if (!text_.empty()) setText(text_.substr(0, text_.size() - 1));
    } else if (keyAscii >= 32) {
        setText(text_ + static_cast<char>(keyAscii));
    }
}

std::string TextBox::describe() const {
    std::string d;
    if (multiLine && text_.find('\n') != std::string::npos) {
        // A multi-line text shows below the control's line, indented.
        d = "(multi-line)";
        for (const std::string& line : printableLines(text_)) d += "\n      | " + line;
    } else {
        d = quoted(text_);
    }
    if (locked) d = "(read-only) " + d;
    return d;
}

void CommandButton::setCaption(std::string c) {
    caption_ = std::move(c);
    changed();
}
std::string CommandButton::describe() const {
    std::string d = "[" + escapeControls(caption_) + "]";
    if (isDefault) d += " (Enter)";
    return d;
}

void CheckBox::setCaption(std::string c) {
    caption_ = std::move(c);
    changed();
}
void CheckBox::setValue(int32_t v) {
    if (v < 0 || v > 2) fail(InvalidPropertyValue, "CheckBox", "Invalid property value");
    if (v == value_) return;
    value_ = v;
    fireClick();
}
std::string CheckBox::describe() const {
    const char* box = value_ == Checked ? "[x]" : value_ == Grayed ? "[-]" : "[ ]";
    return fmt::format("{} {}", box, escapeControls(caption_));
}

void OptionButton::setCaption(std::string c) {
    caption_ = std::move(c);
    changed();
}
void OptionButton::setValue(bool v) {
    if (!v) {
        if (value_) {
            value_ = false;
            changed();
        }
        return;
    }
    for (Control* c : form().controls()) {
        auto* o = dynamic_cast<OptionButton*>(c);
        if (o && o != this && o->container() == container() && o->value_) {
            o->value_ = false;
            o->changed();
        }
    }
    bool was = value_;
    value_ = true;
    if (!was) fireClick();
    else changed();
}
std::string OptionButton::describe() const {
    return fmt::format("({}) {}", value_ ? "o" : " ", escapeControls(caption_));
}

void Frame::setCaption(std::string c) {
    caption_ = std::move(c);
    changed();
}
std::string Frame::describe() const { return quoted(caption_); }

// ---- lists ---------------------------------------------------------------

const std::string& ListControl::list(int32_t i) const {
    if (i < 0 || i >= listCount()) fail(InvalidPropertyValue, name(), "Invalid property array index");
    return items_[static_cast<size_t>(i)];
}

void ListControl::addItem(std::string item) {
    int32_t at = listCount();
    if (sorted) {
        auto it = std::upper_bound(items_.begin(), items_.end(), item, [](const std::string& a, const std::string& b) {
            // Sorted lists order without regard to letter case.
            std::string la = a, lb = b;
            std::transform(la.begin(), la.end(), la.begin(), ::tolower);
            std::transform(lb.begin(), lb.end(), lb.begin(), ::tolower);
            return la < lb;
        });
        at = static_cast<int32_t>(it - items_.begin());
    }
    addItem(std::move(item), at);
}

void ListControl::addItem(std::string item, int32_t index) {
    if (index < 0 || index > listCount()) fail(5, name(), "Invalid procedure call or argument");
    items_.insert(items_.begin() + index, std::move(item));
    data_.insert(data_.begin() + index, 0);
    if (listIndex_ >= index) ++listIndex_;
    onInserted(index);
    changed();
}

void ListControl::removeItem(int32_t i) {
    if (i < 0 || i >= listCount()) fail(5, name(), "Invalid procedure call or argument");
    items_.erase(items_.begin() + i);
    data_.erase(data_.begin() + i);
    if (listIndex_ == i) listIndex_ = -1;
    else if (listIndex_ > i) --listIndex_;
    onRemoved(i);
    changed();
}

void ListControl::clear() {
    items_.clear();
    data_.clear();
    listIndex_ = -1;
    changed();
}

void ListControl::setListIndex(int32_t i) {
    if (i < -1 || i >= listCount()) fail(InvalidPropertyValue, name(), "Invalid property value");
    listIndex_ = i;
    fireClick();
}

int32_t ListControl::itemData(int32_t i) const {
    if (i < 0 || i >= listCount()) fail(InvalidPropertyValue, name(), "Invalid property array index");
    return data_[static_cast<size_t>(i)];
}
void ListControl::setItemData(int32_t i, int32_t v) {
    if (i < 0 || i >= listCount()) fail(InvalidPropertyValue, name(), "Invalid property array index");
    data_[static_cast<size_t>(i)] = v;
}

int32_t ListControl::find(const std::string& text) const {
    for (int32_t i = 0; i < listCount(); ++i)
        if (items_[static_cast<size_t>(i)] == text) return i;
    return -1;
}

bool ListBox::selected(int32_t i) const {
    if (i < 0 || i >= listCount()) fail(InvalidPropertyValue, name(), "Invalid property array index");
    return multiSelect == MultiSelect::None ? i == listIndex_ : static_cast<bool>(selected_[static_cast<size_t>(i)]);
}

void ListBox::setSelected(int32_t i, bool s) {
    if (i < 0 || i >= listCount()) fail(InvalidPropertyValue, name(), "Invalid property array index");
    if (multiSelect == MultiSelect::None) {
        if (s) setListIndex(i);
        else if (listIndex_ == i) setListIndex(-1);
        return;
    }
    selected_[static_cast<size_t>(i)] = s;
    listIndex_ = i;
    fireClick();
}

int32_t ListBox::selCount() const {
    if (multiSelect == MultiSelect::None) return listIndex_ >= 0 ? 1 : 0;
    return static_cast<int32_t>(std::count(selected_.begin(), selected_.end(), true));
}

void ListBox::clear() {
    selected_.clear();
    ListControl::clear();
}

void ListBox::setListIndex(int32_t i) { ListControl::setListIndex(i); }

std::string ListBox::text() const { return listIndex_ >= 0 ? items_[static_cast<size_t>(listIndex_)] : std::string{}; }

void ListBox::onInserted(int32_t at) { selected_.insert(selected_.begin() + at, false); }
void ListBox::onRemoved(int32_t at) { selected_.erase(selected_.begin() + at); }

std::string ListBox::describe() const {
    std::string d;
    for (int32_t i = 0; i < listCount(); ++i) {
        bool sel = selected(i);
        d += fmt::format("{}{}{}", i ? ", " : "", sel ? "*" : "", quoted(items_[static_cast<size_t>(i)]));
    }
    return "{" + d + "}" + (multiSelect != MultiSelect::None ? " (multi-select)" : "");
}

void ComboBox::setText(std::string t) {
    if (style == ComboStyle::DropDownList) {
        if (t.empty()) {
            if (listIndex_ != -1 || !text_.empty()) {
                listIndex_ = -1;
                text_.clear();
                changed();
            }
            return;
        }
        int32_t i = find(t);
        if (i < 0) fail(TextReadOnly, name(), "'Text' property is read-only");
        setListIndex(i);
        return;
    }
    if (t == text_) return;
    text_ = std::move(t);
    listIndex_ = find(text_);
    fireChange();
}

void ComboBox::setListIndex(int32_t i) {
    if (i < -1 || i >= listCount()) fail(InvalidPropertyValue, name(), "Invalid property value");
    listIndex_ = i;
    text_ = i >= 0 ? items_[static_cast<size_t>(i)] : std::string{};
    fireClick();
}

void ComboBox::clear() {
    ListControl::clear();
    text_.clear();
}

std::string ComboBox::describe() const {
    std::string d = quoted(text_) + " of {";
    for (int32_t i = 0; i < listCount(); ++i) d += (i ? ", " : "") + quoted(items_[static_cast<size_t>(i)]);
    return d + "}";
}

void DriveListBox::setDrive(std::string d) {
    if (d == drive_) return;
    drive_ = std::move(d);
    fireChange();
}
std::string DriveListBox::describe() const { return quoted(drive_); }

void DirListBox::setPath(std::string p) {
    std::error_code ec;
    if (!std::filesystem::is_directory(p, ec)) fail(76, name(), "Path not found");
    // The list holds a full path, whatever form the folder was named in.
    std::filesystem::path full = std::filesystem::absolute(p, ec).lexically_normal();
    if (!ec) {
        p = full.string();
        if (p.size() > 1 && p.back() == '/') p.pop_back();
    }
    if (p == path_) return;
    path_ = std::move(p);
    listIndex_ = -1;
    fireChange();
}

void DirListBox::setListIndex(int32_t i) {
    if (i < -1 || i >= static_cast<int32_t>(subfolders().size())) fail(380, name(), "Invalid property value");
    listIndex_ = i;
    changed();
}

std::string DirListBox::list(int32_t i) const {
    if (i == -1) return path_;
    std::vector<std::string> subs = subfolders();
    if (i < -1 || i >= static_cast<int32_t>(subs.size())) fail(380, name(), "Invalid property value");
    return (std::filesystem::path(path_) / subs[static_cast<size_t>(i)]).string();
}

std::vector<std::string> DirListBox::subfolders() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(path_, ec))
        if (e.is_directory(ec)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}
std::string DirListBox::describe() const {
    return listIndex_ < 0 ? quoted(path_) : quoted(path_) + " highlighted " + quoted(list(listIndex_));
}

void ProgressBar::setMin(float m) {
    min_ = m;
    changed();
}
void ProgressBar::setMax(float m) {
    if (m < min_) fail(InvalidPropertyValue, name(), "Invalid property value");
    max_ = m;
    if (value_ > max_) value_ = max_;
    changed();
}
void ProgressBar::setValue(float v) {
    if (v < min_ || v > max_) fail(InvalidPropertyValue, name(), "Invalid property value");
    value_ = v;
    changed();
}
std::string ProgressBar::describe() const { return fmt::format("{:g} of {:g}", value_, max_); }

bool CommonDialog::ask(bool save) {
    auto answer = ui().fileDialog(*this, save);
    if (!answer) {
        if (cancelError) fail(CancelSelected, "CommonDialog", "Cancel was selected.");
        return false;
    }
    fileName = *answer;
    return true;
}
bool CommonDialog::showOpen() { return ask(false); }
bool CommonDialog::showSave() { return ask(true); }
std::string CommonDialog::describe() const { return quoted(fileName); }

// ---- Form ------------------------------------------------------------------

Form::Form(std::string name) : name_(std::move(name)) {}

Form::~Form() {
    if (visible_) ui().formHidden(*this);
    if (hwnd_) windows().erase(hwnd_);
}

void Form::load() {
    if (loaded_ || loading_) return;
    loading_ = true;
    controls_.clear();
    active_ = nullptr;
    caption_.clear();
    design();
    hwnd_ = nextHwnd();
    windows()[hwnd_] = this;
    loaded_ = true;
    loading_ = false;
    Form_Load();
}

void Form::show(bool modal) {
    load();
    if (!loaded_) return;   // Form_Load unloaded it
    bool wasVisible = visible_;
    visible_ = true;
    modal_ = modal;
    if (!active_) {
        for (Control* c : tabOrder())
            if (c->usable() && c->tabStop) {
                active_ = c;
                break;
            }
    }
    ui().formShown(*this, modal);
    (void)wasVisible;
    Form_Activate();
    if (visible_ && loaded_) ui().formActivated(*this);
    if (modal && visible_ && loaded_) ui().runModal(*this);
}

void Form::hide() {
    if (!visible_) return;
    visible_ = false;
    ui().formHidden(*this);
}

bool Form::unload() {
    if (!loaded_) return true;
    int cancel = 0;
    Form_QueryUnload(cancel, 1);
    if (cancel) return false;
    Form_Unload(cancel);
    if (cancel) return false;
    hide();
    loaded_ = false;
    modal_ = false;
    active_ = nullptr;
    controls_.clear();
    owner_ = 0;
    windows().erase(hwnd_);
    hwnd_ = 0;
    return true;
}

intptr_t Form::hWnd() {
    load();
    return hwnd_;
}

const std::string& Form::caption() {
    load();
    return caption_;
}

void Form::setCaption(std::string c) {
    load();
    caption_ = std::move(c);
}

void Form::resize(int32_t w, int32_t h) {
    width = w;
    height = h;
    if (loaded_) Form_Resize();
}

Control* Form::find(const std::string& name) {
    load();
    for (auto& c : controls_)
        if (c->name() == name) return c.get();
    return nullptr;
}

void Form::missingControl(const std::string& name) {
    fail(err::ObjectRequired, name_, fmt::format("The form {} has no control {}.", name_, name));
}

std::vector<Control*> Form::controls() {
    load();
    std::vector<Control*> out;
    for (auto& c : controls_) out.push_back(c.get());
    return out;
}

std::vector<Control*> Form::tabOrder() {
    std::vector<Control*> out;
    for (Control* c : controls())
        if (c->focusable()) out.push_back(c);
    std::stable_sort(out.begin(), out.end(), [](Control* a, Control* b) { return a->tabIndex < b->tabIndex; });
    return out;
}

bool Form::focus(Control& c) {
    if (&c == active_) return true;
    if (active_ && c.causesValidation && active_->onValidate) {
        bool cancel = false;
        active_->onValidate(cancel);
        if (cancel) return false;
    }
    Control* old = active_;
    active_ = &c;
    if (old && old->onLostFocus) old->onLostFocus();
    if (c.onGotFocus) c.onGotFocus();
    return true;
}

CommandButton* Form::defaultButton() {
    for (Control* c : controls())
        if (auto* b = dynamic_cast<CommandButton*>(c); b && b->isDefault) return b;
    return nullptr;
}

CommandButton* Form::cancelButton() {
    for (Control* c : controls())
        if (auto* b = dynamic_cast<CommandButton*>(c); b && b->isCancel) return b;
    return nullptr;
}

void Form::refresh() {
    if (loaded_ && visible_)
        for (auto& c : controls_) ui().controlChanged(*c);
}

void Form::controlChanged(Control& c) {
    if (loaded_ && !loading_) ui().controlChanged(c);
}

std::string Form::describe() {
    std::string out = fmt::format("[{}] {}\n", name_, escapeControls(caption()));
    for (Control* c : controls()) {
        if (c->type() == ControlType::CommonDialog) continue;
        std::string flags;
        if (!c->visible()) flags += " (hidden)";
        else if (!c->usable()) flags += " (disabled)";
        if (c == active_) flags += " (focus)";
        out += fmt::format("  {:<22} {:<11} {}{}\n", c->name(), controlTypeName(c->type()), c->describe(), flags);
    }
    return out;
}

}  // namespace korvane::host
