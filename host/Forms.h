#pragma once
// Headless forms: a form owns named controls in control order, with the
// layout (twips), tab order and events of a desktop dialog. Nothing is drawn;
// a UI driver (host/Ui.h) shows forms as text and feeds them user actions.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane::host {

class Form;
class Frame;

enum class ControlType {
    Label, TextBox, CommandButton, CheckBox, OptionButton, Frame,
    ListBox, ComboBox, DriveListBox, DirListBox, ProgressBar, CommonDialog,
};
const char* controlTypeName(ControlType t);

class Control {
public:
    Control(Form& form, ControlType type, std::string name);
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    ControlType type() const { return type_; }
    const std::string& name() const { return name_; }
    Form& form() const { return form_; }

    // The frame that contains the control, or nothing for the form itself.
    Frame* container() const { return container_; }
    void setContainer(Frame* f) { container_ = f; }

    bool enabled() const { return enabled_; }
    void setEnabled(bool e);
    bool visible() const { return visible_; }
    void setVisible(bool v);
    // Enabled and visible itself and in every containing frame.
    bool usable() const;

    int32_t left = 0, top = 0, width = 0, height = 0;  // twips
    void move(int32_t l, int32_t t, int32_t w, int32_t h) { left = l; top = t; width = w; height = h; }
    int32_t tabIndex = 0;
    bool tabStop = true;
    bool causesValidation = true;
    std::string tag;

    // Whether the control can hold the focus (labels, frames, progress bars
    // and dialogs cannot).
    virtual bool focusable() const { return true; }
    void setFocus();

    // Text of the control for display ("show").
    virtual std::string describe() const { return {}; }

    std::function<void()> onClick;
    std::function<void()> onDblClick;
    std::function<void()> onChange;
    std::function<void()> onGotFocus;
    std::function<void()> onLostFocus;
    std::function<void(int& keyAscii)> onKeyPress;
    std::function<void(bool& cancel)> onValidate;

    // Raises Click (and informs the driver of the change).
    void fireClick();

protected:
    void changed();      // tells the form (and its driver) that the control's state changed
    void fireChange();

private:
    Form& form_;
    ControlType type_;
    std::string name_;
    Frame* container_ = nullptr;
    bool enabled_ = true;
    bool visible_ = true;
};

class Label : public Control {
public:
    Label(Form& f, std::string n) : Control(f, ControlType::Label, std::move(n)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string c);
    bool focusable() const override { return false; }
    std::string describe() const override;

private:
    std::string caption_;
};

class TextBox : public Control {
public:
    TextBox(Form& f, std::string n) : Control(f, ControlType::TextBox, std::move(n)) {}
    const std::string& text() const { return text_; }
    void setText(std::string t);   // raises Change when the text differs
    bool multiLine = false;
    bool locked = false;
    int32_t maxLength = 0;
    std::string describe() const override;
    // A key typed by the user: KeyPress may change or cancel it (0); a
    // printable key is then appended to the text.
    void typeKey(int keyAscii);

private:
    std::string text_;
};

class CommandButton : public Control {
public:
    CommandButton(Form& f, std::string n) : Control(f, ControlType::CommandButton, std::move(n)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string c);
    bool isDefault = false;  // pressed by Enter
    bool isCancel = false;   // pressed by Escape
    void click() { fireClick(); }
    std::string describe() const override;

private:
    std::string caption_;
};

enum CheckState : int32_t { Unchecked = 0, Checked = 1, Grayed = 2 };

class CheckBox : public Control {
public:
    CheckBox(Form& f, std::string n) : Control(f, ControlType::CheckBox, std::move(n)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string c);
    int32_t value() const { return value_; }
    void setValue(int32_t v);   // raises Click when the value changes
    bool checked() const { return value_ == Checked; }
    std::string describe() const override;

private:
    std::string caption_;
    int32_t value_ = Unchecked;
};

class OptionButton : public Control {
public:
    OptionButton(Form& f, std::string n) : Control(f, ControlType::OptionButton, std::move(n)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string c);
    bool value() const { return value_; }
    // True clears the other option buttons of the same container and raises
    // Click; False only clears this one.
    void setValue(bool v);
    std::string describe() const override;

private:
    std::string caption_;
    bool value_ = false;
};

class Frame : public Control {
public:
    Frame(Form& f, std::string n) : Control(f, ControlType::Frame, std::move(n)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string c);
    bool focusable() const override { return false; }
    std::string describe() const override;

private:
    std::string caption_;
};

// Entries shared by list and combo boxes.
class ListControl : public Control {
public:
    using Control::Control;
    int32_t listCount() const { return static_cast<int32_t>(items_.size()); }
    const std::string& list(int32_t i) const;
    void addItem(std::string item);
    void addItem(std::string item, int32_t index);
    void removeItem(int32_t i);
    virtual void clear();
    int32_t listIndex() const { return listIndex_; }
    virtual void setListIndex(int32_t i);   // raises Click
    int32_t itemData(int32_t i) const;
    void setItemData(int32_t i, int32_t v);
    // Index of the entry equal to text, or -1.
    int32_t find(const std::string& text) const;
    bool sorted = false;
    const std::vector<std::string>& items() const { return items_; }

protected:
    std::vector<std::string> items_;
    std::vector<int32_t> data_;
    int32_t listIndex_ = -1;
    virtual void onInserted(int32_t at) {}
    virtual void onRemoved(int32_t at) {}
};

enum class MultiSelect { None = 0, Simple = 1, Extended = 2 };

class ListBox : public ListControl {
public:
    ListBox(Form& f, std::string n) : ListControl(f, ControlType::ListBox, std::move(n)) {}
    MultiSelect multiSelect = MultiSelect::None;
    bool selected(int32_t i) const;
    void setSelected(int32_t i, bool s);   // raises Click
    int32_t selCount() const;
    void clear() override;
    void setListIndex(int32_t i) override;
    // The current entry's text ("" with none).
    std::string text() const;
    std::string describe() const override;

private:
    std::vector<bool> selected_;
    void onInserted(int32_t at) override;
    void onRemoved(int32_t at) override;
};

enum class ComboStyle { DropDownCombo = 0, Simple = 1, DropDownList = 2 };

class ComboBox : public ListControl {
public:
    ComboBox(Form& f, std::string n) : ListControl(f, ControlType::ComboBox, std::move(n)) {}
    ComboStyle style = ComboStyle::DropDownCombo;
    const std::string& text() const { return text_; }
    // A drop-down list accepts only the empty text or one of its entries
    // (which it then selects); the other styles take any text. Raises Change
    // on a text change for the editable styles.
    void setText(std::string t);
    void setListIndex(int32_t i) override;   // sets the text to the entry, raises Click
    void clear() override;
    std::string describe() const override;

private:
    std::string text_;
};

class DriveListBox : public Control {
public:
    DriveListBox(Form& f, std::string n) : Control(f, ControlType::DriveListBox, std::move(n)) {}
    const std::string& drive() const { return drive_; }
    void setDrive(std::string d);   // raises Change
    std::string describe() const override;

private:
    std::string drive_ = "/";
};

// A folder list: the current path and its subfolders.
class DirListBox : public Control {
public:
    DirListBox(Form& f, std::string n) : Control(f, ControlType::DirListBox, std::move(n)) {}
    const std::string& path() const { return path_; }
    void setPath(std::string p);   // held as a full path; fails for a missing folder; raises Change
    std::vector<std::string> subfolders() const;
    // The highlighted entry: -1 the open folder itself, 0.. its subfolders
    // in order. Opening another folder puts it back to -1.
    int32_t listIndex() const { return listIndex_; }
    void setListIndex(int32_t i);   // fails outside -1..subfolders - 1
    // The full path of the entry at a list position (-1: the open folder).
    std::string list(int32_t i) const;
    std::string describe() const override;

private:
    std::string path_ = "/";
    int32_t listIndex_ = -1;
};

class ProgressBar : public Control {
public:
    ProgressBar(Form& f, std::string n) : Control(f, ControlType::ProgressBar, std::move(n)) {}
    float min() const { return min_; }
    float max() const { return max_; }
    float value() const { return value_; }
    void setMin(float m);
    void setMax(float m);
    void setValue(float v);   // fails outside min..max, as the control does
    bool focusable() const override { return false; }
    std::string describe() const override;

private:
    float min_ = 0, max_ = 100, value_ = 0;
};

// Common open/save dialog. The file name persists across shows.
class CommonDialog : public Control {
public:
    CommonDialog(Form& f, std::string n) : Control(f, ControlType::CommonDialog, std::move(n)) {}
    std::string filter;        // "Description|pattern|..."
    int32_t filterIndex = 1;
    int32_t flags = 0;
    std::string fileName;
    std::string dialogTitle;
    std::string initDir;
    std::string defaultExt;
    bool cancelError = false;  // cancelling raises a failure (32755) when set
    // Ask the user through the driver. Returns false when cancelled (and the
    // file name is left as it was).
    bool showOpen();
    bool showSave();
    bool focusable() const override { return false; }
    std::string describe() const override;
    // Flag values the dialogs use.
    static constexpr int32_t OverwritePrompt = 0x2;
    static constexpr int32_t HideReadOnly = 0x4;
    static constexpr int32_t PathMustExist = 0x800;
    static constexpr int32_t FileMustExist = 0x1000;

private:
    bool ask(bool save);
};

// A dialog. Subclasses create their controls in design(), which runs on
// every load, so an unloaded form comes back with its design-time state when
// it is used again; then Form_Load runs.
class Form {
public:
    explicit Form(std::string name);
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    const std::string& name() const { return name_; }

    // Loading and showing.
    bool loaded() const { return loaded_; }
    void load();               // loads when not loaded
    void show(bool modal);     // loads, shows, activates; a modal show returns when the form is hidden
    void hide();
    // Unload asks Form_QueryUnload and Form_Unload; either may cancel. Returns
    // whether the form was unloaded.
    bool unload();
    bool visible() const { return visible_; }
    bool modal() const { return modal_; }

    // Window handle and owner window (loads the form).
    intptr_t hWnd();
    intptr_t owner() const { return owner_; }
    void setOwner(intptr_t ownerHwnd) { owner_ = ownerHwnd; }

    const std::string& caption();
    void setCaption(std::string c);
    int32_t left = 0, top = 0, width = 0, height = 0;  // twips, outer size
    void resize(int32_t w, int32_t h);   // raises Resize while loaded
    bool borderSizable = false;

    // Controls in control order; reloads the form when it was unloaded.
    Control* find(const std::string& name);
    template <class T>
    T& get(const std::string& name) {
        Control* c = find(name);
        T* t = dynamic_cast<T*>(c);
        if (!t) missingControl(name);
        return *t;
    }
    std::vector<Control*> controls();
    // Focusable controls ordered by tab index.
    std::vector<Control*> tabOrder();
    Control* activeControl() const { return active_; }
    // Moves the focus; the control losing it may refuse in Validate. Returns
    // whether the focus moved.
    bool focus(Control& c);
    CommandButton* defaultButton();
    CommandButton* cancelButton();

    // Repaint: the driver is told at once (no message loop to wait for).
    void refresh();

    // The form's text rendering.
    std::string describe();

    // Used by controls.
    void controlChanged(Control& c);

protected:
    virtual void design() = 0;
    virtual void Form_Load() {}
    virtual void Form_Activate() {}
    virtual void Form_QueryUnload(int& cancel, int unloadMode) {}
    virtual void Form_Unload(int& cancel) {}
    virtual void Form_Resize() {}

    template <class T>
    T& add(const std::string& name) {
        auto c = std::make_unique<T>(*this, name);
        T& ref = *c;
        ref.tabIndex = static_cast<int32_t>(controls_.size());
        controls_.push_back(std::move(c));
        return ref;
    }

private:
    [[noreturn]] void missingControl(const std::string& name);
    std::string name_;
    std::string caption_;
    std::vector<std::unique_ptr<Control>> controls_;
    bool loaded_ = false;
    bool loading_ = false;
    bool visible_ = false;
    bool modal_ = false;
    intptr_t hwnd_ = 0;
    intptr_t owner_ = 0;
    Control* active_ = nullptr;
    friend class Control;
};

// The window-owner call: index GWL_HWNDPARENT sets the owner window of the
// form with handle hwnd. Returns the previous value (0 for an unknown window).
inline constexpr int32_t GWL_HWNDPARENT = -8;
intptr_t SetWindowLongA(intptr_t hwnd, int32_t index, intptr_t newValue);
// The loaded form with this window handle, or nullptr.
Form* formFromHandle(intptr_t hwnd);

}  // namespace korvane::host
