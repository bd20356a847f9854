#include "vector/Forms/frmAttributeModelling.h"

#include <algorithm>
#include <optional>

#include "host/FileReplace.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmAddField.h"
#include "shared/frmProgress.h"
#include "shared/modMisc.h"
#include "shared/modSimpleInput.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modSimpleInput.h"

KV_MODULE("Forms/frmAttributeModelling");

namespace kv {

namespace h = korvane::host;

namespace {
constexpr const char* kNewField = "<New Field>";
constexpr const char* kBadData = "<!-BAD -*- DATA-!>";
constexpr const char* kTextFilter = "Textfile(*.txt)|*.txt";
// The name the library is kept under in the map document.
constexpr const char* kLibraryLines = "frmAttributeModelling.querySets";
}  // namespace

h::MapPtr frmAttributeModelling::Map() {
    h::MapPtr result;
    KV_PROCEDURE("Map", TopLevel).run([&] {
        KV_LINE;
        result = hookFocusMap();
    });
    return result;
}

void frmAttributeModelling::design() {
    setCaption("Attribute Modelling");
    width = 8040;
    height = 6720;
    borderSizable = false;

    auto frame = [&](const char* name, const char* caption, int32_t l, int32_t t, int32_t w, int32_t hgt) -> h::Frame& {
        auto& f = add<h::Frame>(name);
        f.setCaption(caption);
        f.move(l, t, w, hgt);
        return f;
    };
    auto button = [&](h::Frame* in, const char* name, const char* caption, int32_t l, int32_t t,
                      int32_t w) -> h::CommandButton& {
        auto& b = add<h::CommandButton>(name);
        b.setCaption(caption);
        b.move(l, t, w, 375);
        if (in) b.setContainer(in);
        return b;
    };
    auto label = [&](h::Frame& in, const char* name, const char* caption, int32_t l, int32_t t, int32_t w,
                     int32_t hgt) {
        auto& lbl = add<h::Label>(name);
        lbl.setCaption(caption);
        lbl.move(l, t, w, hgt);
        lbl.setContainer(&in);
    };
    auto combo = [&](h::Frame& in, const char* name, int32_t l, int32_t t, int32_t w) -> h::ComboBox& {
        auto& c = add<h::ComboBox>(name);
        c.style = h::ComboStyle::DropDownList;
        c.move(l, t, w, 315);
        c.setContainer(&in);
        return c;
    };
    auto text = [&](h::Frame& in, const char* name, int32_t l, int32_t t, int32_t w) -> h::TextBox& {
        auto& tb = add<h::TextBox>(name);
        tb.move(l, t, w, 285);
        tb.setContainer(&in);
        return tb;
    };

    auto& set = frame("fraAttribSet", "Attribute Set", 120, 120, 3855, 1575);
    auto& imp = button(&set, "cmdImport", "Import", 360, 360, 1455);
    auto& exp = button(&set, "cmdExport", "Export", 360, 840, 1455);
    auto& clr = button(&set, "cmdClear", "Clear", 2040, 840, 1455);

    auto& theme = frame("fraFeatureTheme", "Feature Theme", 4080, 120, 3855, 1575);
    label(theme, "Label1", "Layer", 360, 525, 420, 195);
    auto& layer = text(theme, "txtLayer", 1200, 480, 2415);
    layer.setEnabled(false);
    label(theme, "Label2", "View Field", 360, 900, 735, 195);
    combo(theme, "cboViewFields", 1200, 840, 2415);

    auto& model = frame("fraAttribModel", "Attribute Model", 120, 1800, 7815, 975);
    auto& critters = combo(model, "cboCritterBox", 240, 360, 2055);
    critters.sorted = true;
    auto& load = button(&model, "cmdLoad", "Load", 2760, 360, 1455);
    auto& save = button(&model, "cmdSave", "Save", 4440, 360, 1455);
    auto& del = button(&model, "cmdDelete", "Delete", 6120, 360, 1455);

    auto& edit = frame("fraEditModel", "Edit Model", 120, 2880, 7815, 3255);
    label(edit, "Label6", "Target Field Name", 360, 240, 1695, 255);
    combo(edit, "cboTargetField", 600, 480, 3135);
    auto& addField = button(&edit, "cmdAddNewField", "Add New Field", 4080, 480, 1335);
    auto& rename = button(&edit, "cmdRenameField", "Rename Field", 5520, 480, 1335);
    label(edit, "Label7", "Query List", 360, 960, 1695, 255);
    auto& list = add<h::ListBox>("lstQueryList");
    list.move(600, 1200, 5415, 1035);
    list.setContainer(&edit);
    auto& addEntry = button(&edit, "cmdAdd", "Add", 6120, 1200, 1335);
    auto& removeEdit = button(&edit, "cmdRemoveEdit", "Remove / Edit", 6120, 1620, 1335);
    auto& removeAll = button(&edit, "cmdRemoveAll", "Remove All", 6120, 2040, 1335);
    label(edit, "Label4", "Attribute Value", 360, 2520, 1695, 255);
    auto& value = text(edit, "txtAttributeValue", 600, 2760, 1935);
    label(edit, "Label3", "<====", 2760, 2760, 975, 255);
    label(edit, "Label5", "Query", 3360, 2520, 1695, 255);
    auto& query = text(edit, "txtQuery", 3360, 2760, 3855);

    auto& run = button(nullptr, "cmdRun", "Run", 4800, 6240, 1455);
    auto& cancel = button(nullptr, "cmdCancel", "Cancel", 6480, 6240, 1455);
    add<h::CommonDialog>("cmnDlg");

    imp.onClick = [this] { cmdImport_Click(); };
    exp.onClick = [this] { cmdExport_Click(); };
    clr.onClick = [this] { cmdClear_Click(); };
    critters.onClick = [this] { cboCritterBox_Click(); };
    load.onClick = [this] { cmdLoad_Click(); };
    save.onClick = [this] { cmdSave_Click(); };
    del.onClick = [this] { cmdDelete_Click(); };
    addField.onClick = [this] { cmdAddNewField_Click(); };
    rename.onClick = [this] { cmdRenameField_Click(); };
    list.onClick = [this] { lstQueryList_Click(); };
    addEntry.onClick = [this] { cmdAdd_Click(); };
    removeEdit.onClick = [this] { cmdRemoveEdit_Click(); };
    removeAll.onClick = [this] { cmdRemoveAll_Click(); };
    value.onChange = [this] { txtAttributeValue_Change(); };
    query.onChange = [this] { txtQuery_Change(); };
    run.onClick = [this] { cmdRun_Click(); };
    cancel.onClick = [this] { cmdCancel_Click(); };
}

// ---- button states ----------------------------------------------------------------

void frmAttributeModelling::addState() {
    get<h::CommandButton>("cmdAdd").setEnabled(!get<h::TextBox>("txtAttributeValue").text().empty() &&
                                               !get<h::TextBox>("txtQuery").text().empty());
}
void frmAttributeModelling::removeEditState() {
    get<h::CommandButton>("cmdRemoveEdit").setEnabled(get<h::ListBox>("lstQueryList").listIndex() >= 0);
}
void frmAttributeModelling::listStates() {
    bool any = get<h::ListBox>("lstQueryList").listCount() > 0;
    for (const char* b : {"cmdRemoveAll", "cmdSave", "cmdRun"}) get<h::CommandButton>(b).setEnabled(any);
}
void frmAttributeModelling::loadState() {
    get<h::CommandButton>("cmdLoad").setEnabled(!get<h::ComboBox>("cboCritterBox").text().empty());
}
void frmAttributeModelling::deleteState() {
    get<h::CommandButton>("cmdDelete").setEnabled(get<h::ComboBox>("cboCritterBox").listCount() > 0);
}

// ---- loading ----------------------------------------------------------------------

h::FeatureLayerPtr frmAttributeModelling::selectedFeatureLayer() {
    if (!ArcMapHook()) return nullptr;
    return std::dynamic_pointer_cast<h::FeatureLayer>(ArcMapHook()->document()->selectedLayer());
}

void frmAttributeModelling::refillFieldBoxes(const h::LayerPtr& layer) {
    PopulateFieldListBox(layer, get<h::ComboBox>("cboViewFields"));
    auto& target = get<h::ComboBox>("cboTargetField");
    PopulateFieldListBox(layer, target);
    target.addItem(kNewField, 0);
}

void frmAttributeModelling::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        auto& layerBox = get<h::TextBox>("txtLayer");
        layerBox.setText("");
        get<h::ListBox>("lstQueryList").setListIndex(-1);
        get<h::TextBox>("txtAttributeValue").setText("");
        get<h::TextBox>("txtQuery").setText("");
        layerBox.setEnabled(false);
        KV_LINE;
        // The library outlives the window and the command: it is kept with
        // the map document, which every change updates.
        if (ArcMapHook() && ArcMapHook()->document())
            if (const auto* kept = ArcMapHook()->document()->keptLines(kLibraryLines)) library_.replace(*kept);
        KV_LINE;
        h::FeatureLayerPtr layer = selectedFeatureLayer();
        if (!layer && ArcMapHook()) {
            // Nothing usable selected: the map's first feature layer becomes
            // the selected item of the table of contents.
            KV_LINE;
            h::MapPtr map = Map();
            for (int32_t i = 0; map && i < map->layerCount() && !layer; ++i)
                layer = std::dynamic_pointer_cast<h::FeatureLayer>(map->layer(i));
            if (layer) ArcMapHook()->document()->setSelectedLayer(layer);
        }
        KV_LINE;
        listStates();
        removeEditState();
        addState();
        for (const char* b : {"cmdLoad", "cmdSave", "cmdDelete", "cmdRun"}) get<h::CommandButton>(b).setEnabled(false);
        if (!layer) return;
        KV_LINE;
        layerBox.setText(layer->name());
        KV_LINE;
        refillFieldBoxes(layer);
        get<h::ComboBox>("cboTargetField").setListIndex(0);
    });
}

// ---- editing the model --------------------------------------------------------------

void frmAttributeModelling::cmdAdd_Click() {
    KV_PROCEDURE("cmdAdd_Click", TopLevel).run([&] {
        KV_LINE;
        auto& value = get<h::TextBox>("txtAttributeValue");
        auto& query = get<h::TextBox>("txtQuery");
        // The value is stored up to the first blank and before a "|": one
        // holding either would not read back as it was typed.
        if (value.text().find_first_of(" |") != std::string::npos) {
            MsgBox("The attribute value must not contain a blank or \"|\".", h::mb::Exclamation, "Invalid Value");
            return;
        }
        KV_LINE;
        get<h::ListBox>("lstQueryList").addItem(QueryListEntry(value.text(), query.text()));
        value.setText("");
        query.setText("");
        KV_LINE;
        listStates();
        removeEditState();
        addState();
    });
}

void frmAttributeModelling::cmdRemoveAll_Click() {
    KV_PROCEDURE("cmdRemoveAll_Click", TopLevel).run([&] {
        KV_LINE;
        get<h::ListBox>("lstQueryList").clear();
        listStates();
        removeEditState();
        addState();
    });
}

void frmAttributeModelling::cmdRemoveEdit_Click() {
    KV_PROCEDURE("cmdRemoveEdit_Click", TopLevel).run([&] {
        KV_LINE;
        auto& list = get<h::ListBox>("lstQueryList");
        int32_t i = list.listIndex();
        if (i < 0) return;
        ModelEntry e = SplitQueryListEntry(list.list(i));
        get<h::TextBox>("txtAttributeValue").setText(e.value);
        get<h::TextBox>("txtQuery").setText(e.query);
        KV_LINE;
        list.removeItem(i);
        listStates();
        removeEditState();
        addState();
    });
}

void frmAttributeModelling::lstQueryList_Click() { removeEditState(); }
void frmAttributeModelling::txtAttributeValue_Change() { addState(); }
void frmAttributeModelling::txtQuery_Change() { addState(); }
void frmAttributeModelling::cboCritterBox_Click() { loadState(); }

void frmAttributeModelling::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

namespace {
std::vector<std::string> itemsOf(const h::ListControl& list) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list.listCount(); ++i) out.push_back(list.list(i));
    return out;
}
}  // namespace

std::vector<std::string> frmAttributeModelling::queryListEntries() { return itemsOf(get<h::ListBox>("lstQueryList")); }

void frmAttributeModelling::keepLibrary() {
    if (ArcMapHook() && ArcMapHook()->document())
        ArcMapHook()->document()->setKeptLines(kLibraryLines, library_.lines());
}

h::FeatureLayerPtr frmAttributeModelling::layerForFieldWork() {
    h::FeatureLayerPtr layer = selectedFeatureLayer();
    if (!layer) MsgBox("You need to select a layer first", h::mb::OKOnly, "Missing Information");
    return layer;
}

bool frmAttributeModelling::addFieldThroughDialog(const h::FeatureLayerPtr& layer) {
    auto& target = get<h::ComboBox>("cboTargetField");
    int32_t before = target.listCount();
    frmAddField dlg;
    dlg.setLayer(layer);
    ShowForm(dlg, true);
    refillFieldBoxes(layer);
    bool added = target.listCount() > before;
    // The field just added is the last entry; none added: "<New Field>".
    target.setListIndex(added ? target.listCount() - 1 : 0);
    return added;
}

// ---- fields ---------------------------------------------------------------------------

void frmAttributeModelling::cmdAddNewField_Click() {
    KV_PROCEDURE("cmdAddNewField_Click", TopLevel).run([&] {
        KV_LINE;
        h::FeatureLayerPtr layer = layerForFieldWork();
        if (!layer) return;
        KV_LINE;
        addFieldThroughDialog(layer);
    });
}

void frmAttributeModelling::cmdRenameField_Click() {
    KV_PROCEDURE("cmdRenameField_Click", TopLevel).run([&] {
        KV_LINE;
        h::FeatureLayerPtr layer = layerForFieldWork();
        if (!layer) return;
        KV_LINE;
        std::vector<std::string> names = GetFields(layer);
        std::string old = ListInput("Select field to rename", names, "Rename Field");
        if (old.empty()) return;
        h::FeatureClass& fc = *layer->featureClass();
        int32_t oldIndex = fc.findField(old);
        if (oldIndex < 0) return;
        if (oldIndex < (fc.isFeatureClass() ? 2 : 1)) {
            MsgBox("The field " + old + " cannot be renamed.", h::mb::Information, "Rename Field");
            return;
        }
        std::string name;
        KV_LINE;
        // Every ask offers the old name again.
        for (;;) {
            name = h::InputBox("New field name (1-8 characters)", "New Field Name", old);
            while (name.size() > 8) {
                MsgBox("Field name must not be greater than 8 characters", h::mb::Information, "Field name too long");
                name = h::InputBox("New field name (1-8 characters)", "New Field Name", old);
            }
            if (name.empty()) return;
            if (name[0] >= '0' && name[0] <= '9') {
                MsgBox("Field name must not begin with a digit", h::mb::Information, "Invalid Field Name");
                continue;
            }
            if (!h::isValidDbfFieldName(name)) {
                MsgBox("Field name may hold printable ASCII characters only, and no blank",
                       h::mb::Information, "Invalid Field Name");
                continue;
            }
            // dBASE compares field names without regard to case.
            if (fc.findField(name) >= 0) {
                MsgBox("Selected name already exists", h::mb::Information, "Field Name Exists");
                continue;
            }
            break;
        }
        KV_LINE;
        bool deleteOld = MsgBox("Delete old field?", h::mb::YesNo | h::mb::Question, "Delete old field") == h::mb::Yes;
        KV_LINE;
        h::FieldDef def = fc.fields().field(oldIndex);
        def.name = name;
        // The new field, its values and the old field's deletion reach the
        // files together: every value is copied or nothing changes.
        h::EditSession edit(fc);
        fc.addField(def);
        KV_LINE;
        {
            int32_t from = fc.findField(old), to = fc.findField(name);
            frmProgress progress;
            h::Cursor c = fc.update(nullptr, true);
            progress.load();
            progress.setMax(static_cast<int32_t>(std::min<int64_t>(fc.rowCount(), INT32_MAX)));
            progress.setValue(0);
            ShowForm(progress, false);
            int64_t done = 0;
            while (h::RowPtr r = c.next()) {
                r->setValue(to, r->value(from));
                c.updateRow(*r);
                if (++done <= INT32_MAX) progress.setValue(static_cast<int32_t>(done));
            }
            progress.hide();
        }
        KV_LINE;
        if (deleteOld) fc.deleteField(old);
        edit.commit();
    });
}

// ---- the query-set library ----------------------------------------------------------------

void frmAttributeModelling::PopulateCritterBox() {
    auto& box = get<h::ComboBox>("cboCritterBox");
    try {
        std::vector<std::string> names = library_.headers();
        box.clear();
        for (const std::string& n : names) box.addItem(n);
        box.setListIndex(-1);
        box.setText("");
    } catch (...) {
        box.clear();
    }
}

void frmAttributeModelling::PopulateQueryList() {
    auto& list = get<h::ListBox>("lstQueryList");
    list.clear();
    std::string name = get<h::ComboBox>("cboCritterBox").text();
    // Entry by entry: a line that does not read fails with the entries
    // before it in the list.
    library_.load(name, [&](const std::string& e) { list.addItem(e); });
    list.setListIndex(-1);
}

void frmAttributeModelling::cmdLoad_Click() {
    KV_PROCEDURE("cmdLoad_Click", TopLevel).run([&] {
        KV_LINE;
        if (get<h::ComboBox>("cboCritterBox").text().empty()) return;
        KV_LINE;
        // The buttons follow the list as it is, also after a failed load.
        struct States {
            frmAttributeModelling& f;
            ~States() { f.listStates(); }
        } states{*this};
        PopulateQueryList();
    });
}

void frmAttributeModelling::cmdSave_Click() {
    KV_PROCEDURE("cmdSave_Click", TopLevel).run([&] {
        KV_LINE;
        std::string name = h::InputBox("Name the animal for which you are saving habitat queries", "Save Animal Queries");
        if (name.find_first_not_of(' ') == std::string::npos) return;
        KV_LINE;
        library_.save(name, queryListEntries());
        keepLibrary();
        PopulateCritterBox();
        loadState();
        deleteState();
    });
}

void frmAttributeModelling::cmdDelete_Click() {
    KV_PROCEDURE("cmdDelete_Click", TopLevel).run([&] {
        KV_LINE;
        std::vector<std::string> names = itemsOf(get<h::ComboBox>("cboCritterBox"));
        if (names.empty()) names.emplace_back();
        std::string pick = ListInput("Choose queryset to delete", names, "Choose Queryset");
        if (pick.empty()) return;
        KV_LINE;
        library_.remove(pick);
        keepLibrary();
        PopulateCritterBox();
        deleteState();
        loadState();
    });
}

void frmAttributeModelling::cmdClear_Click() {
    KV_PROCEDURE("cmdClear_Click", TopLevel).run([&] {
        KV_LINE;
        auto& box = get<h::ComboBox>("cboCritterBox");
        box.clear();
        box.setText("");
        get<h::CommandButton>("cmdLoad").setEnabled(false);
        deleteState();
    });
}

void frmAttributeModelling::cmdExport_Click() {
    KV_PROCEDURE("cmdExport_Click", TopLevel).run([&] {
        KV_LINE;
        std::vector<std::string> names = itemsOf(get<h::ComboBox>("cboCritterBox"));
        std::vector<std::string> chosen = MultiChoiceListInput("Choose queryset(s) to save", names, "Choose Queryset(s)");
        if (chosen.empty()) return;
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.filter = kTextFilter;
        dlg.flags = 2;
        dlg.fileName.clear();
        if (!dlg.showSave() || dlg.fileName.empty()) return;
        KV_LINE;
        if (!MayReplace(dlg.fileName)) return;
        KV_LINE;
        h::replaceFileContents(dlg.fileName, QuerySetFileText(library_.exportLines(chosen)));
    });
}

void frmAttributeModelling::cmdImport_Click() {
    KV_PROCEDURE("cmdImport_Click", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.filter = kTextFilter;
        dlg.fileName.clear();
        if (!dlg.showOpen() || dlg.fileName.empty()) return;
        KV_LINE;
        // The file is read whole into a new list; the library changes only
        // when that has worked.
        std::vector<std::string> lines = ReadQuerySetFile(dlg.fileName);
        if (lines.empty()) {
            MsgBox("The file " + dlg.fileName + " holds no query sets.  The library is unchanged.", h::mb::Exclamation,
                   "Import Query Sets");
            return;
        }
        KV_LINE;
        library_.replace(std::move(lines));
        keepLibrary();
        std::vector<std::string> names = library_.headers();
        if (!names.empty() && names.front() == kBadData) return;
        PopulateCritterBox();
        loadState();
        deleteState();
    });
}

// ---- the run ------------------------------------------------------------------------------

// Failures pass up to the Run handler.
bool frmAttributeModelling::CheckFieldExistance() {
    h::FeatureLayerPtr layer = selectedFeatureLayer();
    if (!layer) h::failObjectNotSet();
    for (const std::string& entry : queryListEntries()) {
        // The first "[" of the text left and the first "]" of it, which must follow.
        size_t from = 0, open;
        while ((open = entry.find('[', from)) != std::string::npos) {
            size_t close = entry.find(']', from);
            if (close == std::string::npos)
                h::fail(h::err::InvalidCall, "Korvane", "The entry \"" + entry + "\" has a \"[\" without its \"]\".");
            if (close < open)
                h::fail(h::err::InvalidCall, "Korvane", "The entry \"" + entry + "\" has a \"]\" before its \"[\".");
            std::string name = entry.substr(open + 1, close - open - 1);
            if (layer->featureClass()->findField(name) < 0) {
                MsgBox("Field \"" + name + "\" could not be found in the selected layer.", h::mb::Exclamation,
                       "Field Missing");
                return false;
            }
            from = close + 1;
        }
    }
    return true;
}

void frmAttributeModelling::cmdRun_Click() {
    KV_PROCEDURE("cmdRun_Click", TopLevel).run([&] {
        KV_LINE;
        h::FeatureLayerPtr layer = layerForFieldWork();
        if (!layer) return;
        auto& target = get<h::ComboBox>("cboTargetField");
        if (target.text().empty()) {
            MsgBox("You need to choose a target field first", h::mb::Exclamation, "Missing Information");
            return;
        }
        h::FeatureClass& fc = *layer->featureClass();
        // A field added here for the run reaches the file with the run's
        // values, or not at all: a failed write or a kill takes it with
        // them. A run that stops before its first value keeps it.
        std::optional<h::EditSession> edit;
        if (target.text() == kNewField) {
            KV_LINE;
            edit.emplace(fc);
            if (!addFieldThroughDialog(layer)) return;
        }
        KV_LINE;
        ModelPlan plan;
        try {
            if (!CheckFieldExistance()) {
                if (edit) edit->commit();
                return;
            }
            KV_LINE;
            WaitCursor wait;
            plan = PlanAttributeModel(fc, &layer->selectionSet(), queryListEntries(), target.text());
        } catch (...) {
            if (edit) edit->commit();
            throw;
        }
        KV_LINE;
        try {
            WaitCursor wait;
            WriteAttributeModel(fc, plan);
            if (edit) edit->commit();
        } catch (...) {
            if (edit) {
                // The new field went with the values: the boxes show the fields as they are.
                edit.reset();
                refillFieldBoxes(layer);
                target.setListIndex(0);
            }
            throw;
        }
    });
}

}  // namespace kv
