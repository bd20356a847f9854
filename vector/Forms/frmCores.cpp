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
#include "vector/Modules/modRunChecks.h"
#include "shared/modCoreAreas.h"

KV_MODULE("Forms/frmCores");

namespace kv {

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

const char* trueFalse(bool b) { return b ? "True" : "False"; }

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

// ---- loading -------------------------------------------------------------

void frmCores::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        AddFeatureLayerNames(Map(), get<h::ListBox>("lstLayers"));
        KV_LINE;
        ResetChoices();
    });
}

void frmCores::FillIdFields(const h::LayerPtr& layer, h::ComboBox& combo) { PopulateFieldListBox(layer, combo); }

// ---- OK, Cancel, Batch -------------------------------------------------------------------------

void frmCores::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        RunChosen(kvProc_);
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

void frmCores::CreateCores(const std::string& folderName, const std::string& shapefileName,
                           const std::string& strLayerName, const std::string& strIDFieldName, double strBufferSize,
                           bool blnExplode, bool blnAddToMap) {
    // The run reports its own failures, with the feature reached, in one
    // message box; nothing goes to the error report.
    ::kv::Procedure kvProc_("CreateCores", kvModulePath_, TopLevel);
    std::optional<CoreAreaRun> run;
    std::unique_ptr<frmProgress> progress;
    try {
        KV_LINE;
        h::MapPtr map = Map();
        std::optional<CoreStart> start =
            StartCores(kvProc_, map, folderName, shapefileName, strLayerName, strIDFieldName,
                       "Error in creating layer. Try deleting \"" + shapefileName + "\" manually.");
        if (!start) return;
        h::FeatureClassPtr cores = start->cores;

        KV_LINE;
        run.emplace(kvProc_, start->source, cores, strBufferSize, blnExplode);
        KV_LINE;
        progress = std::make_unique<frmProgress>();
        KV_LINE;
        h::SetWindowLongA(progress->hWnd(), h::GWL_HWNDPARENT, hWnd());
        KV_LINE;
        ShowForm(*progress, false);
        // An empty source still shows a bar, at its start.
        KV_LINE;
        progress->setMax(static_cast<int32_t>(std::max<int64_t>(run->total(), 1)));
        progress->setValue(0);

        while (run->feature()) {
            run->step(kvProc_);
            KV_LINE;
            progress->setValue(progress->Value() + 1);
            refresh();
        }
        run->finish(kvProc_);
        // The finished class takes the old output's place, file by file.
        KV_LINE;
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
        const h::FeaturePtr feature = run ? run->feature() : nullptr;
        const int32_t featuresRunThrough = run ? run->featuresRunThrough() : 0;
        std::string text = feature ? fmt::format("Error encountered with OID {} on line {} with {} features run through",
                                                 feature->oid(), kvProc_.line, featuresRunThrough)
                                   : fmt::format("Error encountered on line {} with {} features run through",
                                                 kvProc_.line, featuresRunThrough);
        MsgBox(text + "\r\n" + std::to_string(e.number) + " : " + e.description, h::mb::Critical, "Create Cores");
        if (progress) progress->unload();
    }
}

}  // namespace kv
