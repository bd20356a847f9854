// The Create Core Areas dialog (frmCores) and the core-area run: every patch
// of a polygon layer buffered inward by the edge width, its core written to a
// new shapefile with the patch's ID, the patch area, the core area and the
// area of each written part.
#include "vector/Forms/frmCores.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmProgress.h"
#include "shared/modMisc.h"
#include "vector/Modules/modKorvaneIni.h"
#include "vector/Modules/modMisc.h"

KV_MODULE("Forms/frmCores");

namespace kv {

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

constexpr const char* kPatchArea = "Patch_Area";
constexpr const char* kCoreArea = "Core_Area";
constexpr const char* kArea = "Area";

// A buffer that cannot be built is tried again a little wider, this many
// times; then the failure stands and ends the run.
constexpr int kBufferAttempts = 10;
constexpr double kBufferWidening = 0.00005;

// The source features between two flushes of the insert cursor.
constexpr int16_t kFlushEvery = 100;

const char* trueFalse(bool b) { return b ? "True" : "False"; }

uint32_t readU32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) h::fail(h::err::HostInvalidArg, "Korvane", "The shape's bytes end early.");
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;   // the host's shapes are little-endian WKB, as this machine
}

// The number the user typed: the whole text, or a type mismatch.
double bufferSizeOf(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double v = std::strtod(begin, &end);
    while (end && (*end == ' ' || *end == '\t')) ++end;
    if (text.empty() || end == begin || *end != '\0' || !std::isfinite(v))
        h::fail(h::err::TypeMismatch, "Korvane", "Type mismatch");
    return v;
}

std::string sameDataset(const std::string& a, const std::string& b) {
    std::error_code ec1, ec2;
    auto ca = sfs::weakly_canonical(a, ec1), cb = sfs::weakly_canonical(b, ec2);
    return (!ec1 && !ec2 && ca == cb) ? ca.string() : std::string{};
}

// The map's feature layer (at any depth) whose data is the shapefile at
// path, or nothing.
h::LayerPtr layerOnFile(const h::MapPtr& map, const std::string& shpPath) {
    if (!map) return nullptr;
    for (const h::LayerPtr& l : map->allLayers()) {
        if (l->kind() != h::LayerKind::Feature) continue;
        auto* fl = dynamic_cast<h::FeatureLayer*>(l.get());
        if (fl && fl->featureClass() && !sameDataset(fl->featureClass()->path(), shpPath).empty()) return l;
    }
    return nullptr;
}

std::string valueProblem(const std::string& what, const std::string& value) {
    bool splits = value.find_first_of(",[]") != std::string::npos;
    bool breaks = value.find_first_of("\r\n") != std::string::npos;
    bool blanks = !value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                                     value.back() == '\t');
    if (!splits && !breaks && !blanks) return {};
    std::string why = splits ? "contains \",\", \"[\" or \"]\"" : breaks ? "contains a line break" : "begins or ends with a blank";
    return fmt::format("The {} '{}' {}, which a batch line cannot hold without changing its meaning.\r\n"
                       "Use OK to create the core areas now, or rename it before adding it to the batch.",
                       what, value, why);
}

}  // namespace

// ---- batch line ------------------------------------------------------------------

std::string CoreAreaBatchLine(const CoreAreaRequest& r) {
    return fmt::format("CreateCores {}, {}, {}, {}, {}, {}, {}", r.folderName, r.shapefileName, r.strLayerName,
                       r.strIDFieldName, r.strBufferSize, trueFalse(r.blnExplode), trueFalse(r.blnAddToMap));
}

std::string CoreAreaBatchLineProblem(const CoreAreaRequest& r) {
    std::string p = valueProblem("output folder", r.folderName);
    if (p.empty()) p = valueProblem("output shapefile name", r.shapefileName);
    if (p.empty()) p = valueProblem("layer name", r.strLayerName);
    if (p.empty()) p = valueProblem("ID field name", r.strIDFieldName);
    return p;
}

// ---- polygon parts ------------------------------------------------------------------

std::vector<h::Geometry> PolygonParts(const h::Geometry& shape) {
    std::vector<h::Geometry> parts;
    const std::vector<uint8_t>& b = shape.wkb();
    if (b.size() < 9) return parts;
    uint32_t type = readU32(b, 1) % 1000;
    if (type == 3) {
        parts.push_back(shape);
        return parts;
    }
    if (type != 6) return parts;
    uint32_t count = readU32(b, 5);
    size_t at = 9;
    for (uint32_t i = 0; i < count; ++i) {
        size_t start = at;
        uint32_t rings = readU32(b, at + 5);
        at += 9;
        for (uint32_t r = 0; r < rings; ++r) at += 4 + 16 * static_cast<size_t>(readU32(b, at));
        if (at > b.size()) h::fail(h::err::HostInvalidArg, "Korvane", "The shape's bytes end early.");
        parts.push_back(h::Geometry::fromWkb(b.data() + start, at - start));
    }
    return parts;
}

// ---- design ----------------------------------------------------------------------------

void frmCores::design() {
    setCaption("Create Core Areas");
    width = 6015;
    height = 4815;
    borderSizable = false;

    auto label = [&](const char* name, const char* caption, int32_t l, int32_t t, int32_t w) {
        auto& lbl = add<h::Label>(name);
        lbl.setCaption(caption);
        lbl.move(l, t, w, 255);
    };

    label("Label1", "Layers", 120, 120, 1455);
    auto& lst = add<h::ListBox>("lstLayers");
    lst.move(120, 360, 5655, 1620);

    label("Label2", "ID Field", 120, 2100, 1455);
    auto& cbo = add<h::ComboBox>("cboIdField");
    cbo.style = h::ComboStyle::DropDownList;
    cbo.move(120, 2340, 2775, 315);

    auto& detach = add<h::CheckBox>("chkDetach");
    detach.setCaption("Detach multiple cores");
    detach.move(3120, 2160, 2655, 255);
    detach.setValue(h::Checked);
    auto& addLayer = add<h::CheckBox>("chkAddLayer");
    addLayer.setCaption("Add layer to map");
    addLayer.move(3120, 2460, 2655, 255);
    addLayer.setValue(h::Checked);

    label("Label3", "Output File Name", 120, 2820, 1455);
    auto& file = add<h::TextBox>("txtFilenameOut");
    file.locked = true;   // chosen through the save dialog only
    file.move(120, 3060, 5655, 285);

    label("Label4", "Buffer Size", 120, 3480, 1455);
    auto& size = add<h::TextBox>("txtBufferSize");
    size.move(120, 3720, 1455, 285);

    auto button = [&](const char* name, const char* caption, int32_t l, bool enabled) -> h::CommandButton& {
        auto& b = add<h::CommandButton>(name);
        b.setCaption(caption);
        b.move(l, 4200, 1095, 375);
        b.setEnabled(enabled);
        return b;
    };
    auto& batch = button("cnmdBatch", "Batch", 2400, true);
    auto& cancel = button("cmdCancel", "Cancel", 3540, true);
    auto& ok = button("cmdOK", "OK", 4680, false);

    add<h::CommonDialog>("cmnDlg");

    int32_t tab = 0;
    for (const char* name : {"lstLayers", "cboIdField", "chkDetach", "txtFilenameOut", "txtBufferSize", "cmdCancel",
                             "cnmdBatch", "cmdOK", "chkAddLayer"})
        get<h::Control>(name).tabIndex = tab++;
    for (h::Control* c : controls())
        if (!c->focusable()) c->tabIndex = tab++;

    lst.onClick = [this] { lstLayers_Click(); };
    cbo.onChange = [this] { cboIdField_Change(); };
    cbo.onClick = [this] { cboIdField_Click(); };
    cbo.onValidate = [this](bool& cancel) { cboIdField_Validate(cancel); };
    size.onChange = [this] { txtBufferSize_Change(); };
    size.onKeyPress = [this](int& keyAscii) { txtBufferSize_KeyPress(keyAscii); };
    file.onClick = [this] { txtFilenameOut_Click(); };
    file.onGotFocus = [this] { txtFilenameOut_GotFocus(); };
    file.onLostFocus = [this] { txtFilenameOut_LostFocus(); };
    ok.onClick = [this] { cmdOK_Click(); };
    cancel.onClick = [this] { cmdCancel_Click(); };
    batch.onClick = [this] { cnmdBatch_Click(); };
}

// ---- properties and loading -------------------------------------------------------------

h::MapPtr frmCores::Map() {
    h::MapPtr result;
    KV_PROCEDURE("Map", TopLevel).run([&] {
        KV_LINE;
        result = hookFocusMap();
    });
    return result;
}

void frmCores::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        layer_.reset();
        fileChosenOnFocus_ = false;
        auto& lst = get<h::ListBox>("lstLayers");
        KV_LINE;
        AddFeatureLayerNames(Map(), lst);
        KV_LINE;
        get<h::TextBox>("txtBufferSize").setText("");
        get<h::TextBox>("txtFilenameOut").setText("");
        get<h::CommandButton>("cmdOK").setEnabled(false);
        get<h::ComboBox>("cboIdField").clear();
        get<h::TextBox>("txtFilenameOut").locked = true;
    });
}

// ---- layer, ID field and the OK rule ------------------------------------------------------

void frmCores::lstLayers_Click() {
    KV_PROCEDURE("lstLayers_Click", TopLevel).run([&] {
        KV_LINE;
        auto& lst = get<h::ListBox>("lstLayers");
        if (lst.listIndex() < 0) return;   // the selection was cleared
        KV_LINE;
        layer_ = FindLayerByName(Map(), lst.text());
        KV_LINE;
        PopulateFieldListBox(layer_, get<h::ComboBox>("cboIdField"));
        // The ID field of another layer is gone: OK waits for a new choice.
        KV_LINE;
        CheckOKEnabled();
    });
}

void frmCores::CheckOKEnabled() {
    bool ready = !get<h::TextBox>("txtBufferSize").text().empty() &&
                 !get<h::TextBox>("txtFilenameOut").text().empty() && get<h::ComboBox>("cboIdField").listIndex() >= 0;
    get<h::CommandButton>("cmdOK").setEnabled(ready);
}

// The events that re-evaluate the OK rule, each under its own name.
void frmCores::OKRuleEvent(const char* procedure) {
    ::kv::Procedure kvProc_(procedure, kvModulePath_, TopLevel);
    kvProc_.run([&] {
        KV_LINE;
        CheckOKEnabled();
    });
}

void frmCores::cboIdField_Change() { OKRuleEvent("cboIdField_Change"); }
void frmCores::cboIdField_Click() { OKRuleEvent("cboIdField_Click"); }
void frmCores::cboIdField_Validate(bool& /*cancel: the rule never keeps the focus*/) {
    OKRuleEvent("cboIdField_Validate");
}
void frmCores::txtBufferSize_Change() { OKRuleEvent("txtBufferSize_Change"); }

void frmCores::txtBufferSize_KeyPress(int& keyAscii) {
    KV_PROCEDURE("txtBufferSize_KeyPress", TopLevel).run([&] {
        KV_LINE;
        bool keep = (keyAscii >= '0' && keyAscii <= '9') || keyAscii == '.' || keyAscii == 13 || keyAscii == 8;
        if (!keep) keyAscii = 0;
    });
}

// ---- output file ---------------------------------------------------------------------------

void frmCores::GetOutputFile() {
    KV_PROCEDURE("GetOutputFile", Inner).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.flags = h::CommonDialog::OverwritePrompt;
        dlg.filter = "Shapefiles(*.shp)|*.shp";
        dlg.defaultExt.clear();
        std::string before = dlg.fileName;
        KV_LINE;
        if (!dlg.showSave()) return;   // Cancel keeps the name held before
        // A name typed relative to the current folder is held as the full
        // path, so that a batch line replayed elsewhere means the same file.
        KV_LINE;
        if (!dlg.fileName.empty() && dlg.fileName.front() != '/')
            dlg.fileName = sfs::absolute(dlg.fileName).lexically_normal().string();
        // The overwrite question of the save dialog, asked here because the
        // host's file chooser hands back any name.
        KV_LINE;
        if (h::fs::FileExists(dlg.fileName)) {
            KV_LINE;
            int32_t answer = MsgBox(dlg.fileName + " already exists.\r\nDo you want to replace it?",
                                    h::mb::YesNo | h::mb::Exclamation | h::mb::DefaultButton2, "Save As");
            if (answer != h::mb::Yes) dlg.fileName = before;
        }
    });
}

void frmCores::txtFilenameOut_Click() {
    KV_PROCEDURE("txtFilenameOut_Click", TopLevel).run([&] {
        // The click that moved the focus here has been answered by the
        // dialog that the focus opened: one click, one dialog.
        if (fileChosenOnFocus_) {
            fileChosenOnFocus_ = false;
            return;
        }
        KV_LINE;
        GetOutputFile();
        KV_LINE;
        get<h::TextBox>("txtFilenameOut").setText(get<h::CommonDialog>("cmnDlg").fileName);
    });
}

void frmCores::txtFilenameOut_GotFocus() {
    KV_PROCEDURE("txtFilenameOut_GotFocus", TopLevel).run([&] {
        KV_LINE;
        fileChosenOnFocus_ = true;
        KV_LINE;
        GetOutputFile();
        KV_LINE;
        get<h::TextBox>("txtFilenameOut").setText(get<h::CommonDialog>("cmnDlg").fileName);
    });
}

void frmCores::txtFilenameOut_LostFocus() { fileChosenOnFocus_ = false; }

// ---- OK, Cancel, Batch -------------------------------------------------------------------------

CoreAreaRequest frmCores::request() {
    if (get<h::TextBox>("txtFilenameOut").text().empty())
        h::fail(h::err::InvalidCall, "Korvane", "No output file has been chosen.");
    CoreAreaRequest r;
    // The folder is the full name up to its last separator; the name is the
    // title without its .shp extension.
    std::string full = get<h::CommonDialog>("cmnDlg").fileName;
    size_t slash = full.find_last_of('/');
    std::string title = slash == std::string::npos ? full : full.substr(slash + 1);
    r.folderName = slash == std::string::npos ? std::string{} : full.substr(0, slash);
    if (r.folderName.empty() && slash != std::string::npos) r.folderName = "/";
    r.shapefileName = title;
    if (title.size() > 4 && h::sameFieldName(title.substr(title.size() - 4), ".shp"))
        r.shapefileName = title.substr(0, title.size() - 4);
    r.strLayerName = get<h::ListBox>("lstLayers").text();
    r.strIDFieldName = get<h::ComboBox>("cboIdField").text();
    r.strBufferSize = bufferSizeOf(get<h::TextBox>("txtBufferSize").text());
    r.blnExplode = get<h::CheckBox>("chkDetach").checked();
    r.blnAddToMap = get<h::CheckBox>("chkAddLayer").checked();
    return r;
}

void frmCores::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        CoreAreaRequest r = request();
        KV_LINE;
        CreateCores(r.folderName, r.shapefileName, r.strLayerName, r.strIDFieldName, r.strBufferSize, r.blnExplode,
                    r.blnAddToMap);
        KV_LINE;
        unload();
    });
}

void frmCores::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

void frmCores::cnmdBatch_Click() {
    KV_PROCEDURE("cnmdBatch_Click", TopLevel).run([&] {
        KV_LINE;
        if (!KorvaneIniExists()) return;
        KV_LINE;
        CoreAreaRequest r = request();
        KV_LINE;
        std::string problem = CoreAreaBatchLineProblem(r);
        if (!problem.empty()) {
            MsgBox(problem, h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        BatchLocation where = ReadBatchLocation(KorvaneIniPath());
        KV_LINE;
        if (where.sectionIsLastLine)
            h::fail(h::err::InvalidCall, "Korvane", "Input past end of file");
        KV_LINE;
        std::vector<std::string> lines{CoreAreaBatchLine(r)};
        KV_LINE;
        MakeDefaultBatchFolder(where.location);
        {
            // A hand-edited file may lack its last line end; the new line
            // must not run into the one before it.
            std::ifstream in(where.location, std::ios::binary | std::ios::ate);
            if (in && in.tellg() > 0) {
                in.seekg(-1, std::ios::end);
                if (in.get() != '\n') lines.insert(lines.begin(), std::string());
            }
        }
        // The line is added whole or not at all.
        KV_LINE;
        if (!h::fs::FolderExists(sfs::path(where.location).parent_path().string()))
            h::fail(h::err::PathNotFound, "Korvane", "Path not found: " + where.location);
        KV_LINE;
        try {
            h::fs::WriteTextFile(where.location, lines, true);
        } catch (const h::Failure&) {
            h::fail(h::err::PermissionDenied, "Korvane", "Cannot write " + where.location);
        }
        KV_LINE;
        unload();
    });
}

// ---- the core-area run ----------------------------------------------------------------------------

h::FeatureClassPtr frmCores::CreateCoreShapefile(const std::string& folderName, const std::string& shapefileName,
                                                 const h::FieldDef& idField, const h::SpatialReference* sr) {
    // Failures are passed on to the caller as they are, without a report of
    // this procedure's own: the caller shows them in its message.
    pendingCores_.reset();
    std::vector<h::FieldDef> fields = {idField,
                                       {kPatchArea, h::FieldDouble, 0, 20, 5},
                                       {kCoreArea, h::FieldDouble, 0, 20, 5},
                                       {kArea, h::FieldDouble, 0, 20, 5}};
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folderName);
    // An old output that could not be deleted is not replaced either.
    if (ws.exists(shapefileName + ".shp")) {
        if (::access(folderName.c_str(), W_OK) != 0) return nullptr;
        for (const char* ext : {".shp", ".shx", ".dbf"}) {
            std::string file = folderName + "/" + shapefileName + ext;
            if (h::fs::FileExists(file) && h::fs::IsReadOnly(file)) return nullptr;
        }
    }
    auto pending = std::make_unique<h::DatasetReplacement>(ws, shapefileName, true);
    h::FeatureClassPtr result;
    try {
        result = ws.createFeatureClass(pending->temporaryName(), fields, h::ShapeType::Polygon, sr);
    } catch (const h::Failure&) {
        return nullptr;
    }
    pendingCores_ = std::move(pending);
    return result;
}

h::FeatureClassPtr frmCores::PlaceCoreShapefile() {
    if (!pendingCores_) h::failObjectNotSet();
    std::unique_ptr<h::DatasetReplacement> pending = std::move(pendingCores_);
    return std::dynamic_pointer_cast<h::FeatureClass>(pending->commit());
}

void frmCores::CreateCores(const std::string& folderName, const std::string& shapefileName,
                           const std::string& strLayerName, const std::string& strIDFieldName, double strBufferSize,
                           bool blnExplode, bool blnAddToMap) {
    // The run reports its own failures, with the feature reached, in one
    // message box; nothing goes to the error report.
    ::kv::Procedure kvProc_("CreateCores", kvModulePath_, TopLevel);
    int32_t featuresRunThrough = 0;
    h::FeaturePtr feature;
    std::unique_ptr<frmProgress> progress;
    try {
        KV_LINE;
        h::MapPtr map = Map();
        KV_LINE;
        h::LayerPtr layer = FindLayerByName(map, strLayerName);
        if (!layer) {
            MsgBox(strLayerName + " is not loaded into the current map.", h::mb::Exclamation, "Cannot Buffer Layer");
            return;
        }
        KV_LINE;
        h::FeatureLayer& source = featureLayerOf(layer);
        h::FeatureClassPtr sourceClass = source.featureClass();
        KV_LINE;
        int32_t idIndex = sourceClass->findField(strIDFieldName);
        if (idIndex < 0) {
            MsgBox("Cannot find ID field " + strIDFieldName + " in layer " + strLayerName, h::mb::Exclamation,
                   "Cannot Buffer Layer");
            return;
        }
        KV_LINE;
        h::FieldDef idField = sourceClass->fields().field(idIndex);
        // The object id and the shape are the new class's own, not values
        // that it can copy.
        if (idField.type == h::FieldOID || idField.type == h::FieldGeometry) {
            MsgBox("The ID field " + idField.name + " is the layer's object ID or shape field.  Choose another ID "
                   "field.",
                   h::mb::Exclamation, "Cannot Buffer Layer");
            return;
        }
        // The three area fields come after the ID field: an ID field of one
        // of their names would make the new class impossible after the old
        // output had been deleted.
        for (const char* name : {kPatchArea, kCoreArea, kArea}) {
            if (h::sameFieldName(idField.name, name)) {
                MsgBox("The ID field " + idField.name + " has the name of a field of the core areas (Patch_Area, "
                       "Core_Area, Area).  Choose another ID field.",
                       h::mb::Exclamation, "Cannot Buffer Layer");
                return;
            }
        }
        // Replacing the data of a layer of the map would destroy what the
        // map shows, the source patches above all.
        KV_LINE;
        std::string outPath = folderName + "/" + shapefileName + ".shp";
        if (h::LayerPtr onFile = layerOnFile(map, outPath)) {
            MsgBox(outPath + " is the data of the layer " + onFile->name() +
                       " in the current map and cannot be replaced.  Choose another output file.",
                   h::mb::Exclamation, "Cannot Buffer Layer");
            return;
        }

        KV_LINE;
        const auto& sr = sourceClass->spatialReference();
        h::FeatureClassPtr cores = CreateCoreShapefile(folderName, shapefileName, idField, sr ? &*sr : nullptr);
        if (!cores) {
            MsgBox("Error in creating layer. Try deleting \"" + shapefileName + "\" manually.", h::mb::Critical,
                   "Shapefile not created");
            return;
        }

        KV_LINE;
        h::SelectionSet& selection = source.selectionSet();
        bool selected = selection.count() > 0;
        KV_LINE;
        h::Cursor cursor = selected ? selection.search(nullptr, true) : source.search(nullptr, true);
        int64_t total = selected ? selection.count() : sourceClass->rowCount();

        KV_LINE;
        int32_t coreAreaIndex = cores->findField(kCoreArea);
        int32_t patchAreaIndex = cores->findField(kPatchArea);
        int32_t areaIndex = cores->findField(kArea);
        int32_t newIdIndex = cores->findField(idField.name);

        KV_LINE;
        feature = cursor.next();
        KV_LINE;
        h::InsertCursor inserts = cores->insert(true);

        KV_LINE;
        progress = std::make_unique<frmProgress>();
        KV_LINE;
        h::SetWindowLongA(progress->hWnd(), h::GWL_HWNDPARENT, hWnd());
        KV_LINE;
        ShowForm(*progress, false);
        // An empty source still shows a bar, at its start.
        KV_LINE;
        progress->setMax(static_cast<int32_t>(std::max<int64_t>(total, 1)));
        progress->setValue(0);
        int16_t flushCounter = 0;
        featuresRunThrough = 0;

        KV_LINE;
        double baseDistance = -std::fabs(strBufferSize);
        KV_LINE;
        h::RowPtr buffer = inserts.createRowBuffer();

        while (feature) {
            // The source shape as it is measured: a self-intersecting ring is
            // first made valid, so that its area and core are those of the
            // ground it covers.
            KV_LINE;
            h::Geometry shape = feature->shape();
            KV_LINE;
            if (!shape.isValid()) shape = shape.makeValid();

            KV_LINE;
            double distance = baseDistance;
            h::Geometry core;
            for (int attempt = 1;; ++attempt) {
                try {
                    core = shape.buffer(distance);
                    break;
                } catch (const h::Failure&) {
                    if (attempt >= kBufferAttempts) throw;
                    distance -= kBufferWidening;
                }
            }
            KV_LINE;
            if (!core.isEmpty() && !core.isValid()) core = core.makeValid();

            KV_LINE;
            double patchArea = shape.area();
            double coreArea = core.area();
            KV_LINE;
            const h::Value idValue = feature->value(idIndex);

            auto write = [&](h::Geometry part, double partArea) {
                KV_LINE;
                buffer->setShape(std::move(part));
                buffer->setValue(patchAreaIndex, patchArea);
                buffer->setValue(coreAreaIndex, coreArea);
                buffer->setValue(areaIndex, partArea);
                buffer->setValue(newIdIndex, idValue);
                ++featuresRunThrough;
                KV_LINE;
                inserts.insertRow(*buffer);
            };
            if (coreArea > 0) {
                KV_LINE;
                std::vector<h::Geometry> parts = blnExplode ? PolygonParts(core) : std::vector<h::Geometry>{};
                if (parts.size() > 1) {
                    // Each part keeps its own holes, so that the parts'
                    // areas add up to the core area.
                    for (h::Geometry& part : parts) {
                        double partArea = part.area();
                        if (partArea > 0) write(std::move(part), partArea);
                    }
                } else {
                    write(core, coreArea);
                }
            }

            KV_LINE;
            if (flushCounter > kFlushEvery) {
                inserts.flush();
                flushCounter = 0;
            } else {
                ++flushCounter;
            }

            ++featuresRunThrough;
            KV_LINE;
            feature = cursor.next();
            KV_LINE;
            progress->setValue(progress->Value() + 1);
            refresh();
        }

        KV_LINE;
        inserts.flush();
        feature.reset();
        // The finished class takes the old output's place, file by file.
        KV_LINE;
        inserts = h::InsertCursor();
        buffer.reset();
        cores.reset();
        cores = PlaceCoreShapefile();
        KV_LINE;
        if (blnAddToMap) {
            KV_LINE;
            auto newLayer = std::make_shared<h::FeatureLayer>(cores, cores->name());
            newLayer->setVisible(true);
            KV_LINE;
            map->addLayer(newLayer);
        }
        KV_LINE;
        progress->unload();
    } catch (...) {
        // This handler ends the chain with its own message, showing the
        // failure's own description, not the report text inner procedures
        // put around it.
        FailureInfo e = failureOf(std::current_exception());
        e.description = ChainedDescription(e.description);
        ResetErrorChain();
        pendingCores_.reset();
        std::string text = feature ? fmt::format("Error encountered with OID {} on line {} with {} features run through",
                                                 feature->oid(), kvProc_.line, featuresRunThrough)
                                   : fmt::format("Error encountered on line {} with {} features run through",
                                                 kvProc_.line, featuresRunThrough);
        MsgBox(text + "\r\n" + std::to_string(e.number) + " : " + e.description, h::mb::Critical, "Create Cores");
        if (progress) progress->unload();
    }
}

}  // namespace kv
