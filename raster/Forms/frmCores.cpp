#include "raster/Forms/frmCores.h"

#include <memory>
#include <optional>

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "raster/Modules/modMisc.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmProgress.h"
#include "shared/modCoreAreas.h"
#include "shared/modMisc.h"

KV_MODULE("Forms/frmCores");

namespace kv {

namespace h = korvane::host;

namespace {

// The run's progress window, closed however the run ends.
struct ProgressWindow {
    std::unique_ptr<frmProgress> form = std::make_unique<frmProgress>();
    ~ProgressWindow() {
        try {
            form->unload();
        } catch (...) {
        }
    }
};

bool isPolygonLayer(const h::LayerPtr& layer) {
    auto* fl = dynamic_cast<h::FeatureLayer*>(layer.get());
    return fl && fl->featureClass() && fl->featureClass()->shapeType() == h::ShapeType::Polygon;
}

}  // namespace

void frmCores::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        h::MapPtr map = Map();
        auto& lst = get<h::ListBox>("lstLayers");
        KV_LINE;
        if (map)
            for (const h::LayerPtr& layer : map->layers())
                if (isPolygonLayer(layer)) lst.addItem(layer->name());
        KV_LINE;
        ResetChoices();
        // This library keeps no batch file.
        get<h::CommandButton>("cnmdBatch").setEnabled(false);
    });
}

void frmCores::FillIdFields(const h::LayerPtr& layer, h::ComboBox& combo) { PopulateFieldListBox(layer, combo); }

void frmCores::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        RunChosen(kvProc_);
        // The dialog stays open for another run.
    });
}

void frmCores::cnmdBatch_Click() {
    KV_PROCEDURE("cnmdBatch_Click", TopLevel).run([] {});
}

void frmCores::CreateCores(const std::string& folderName, const std::string& shapefileName,
                           const std::string& strLayerName, const std::string& strIDFieldName, double strBufferSize,
                           bool blnExplode, bool blnAddToMap) {
    // No handler of its own: a failure goes to the caller's report. This
    // procedure only numbers the lines the stages reach.
    ::kv::Procedure kvProc_("CreateCores", kvModulePath_, Inner);
    struct DropUnfinished {
        std::unique_ptr<h::DatasetReplacement>& pending;
        ~DropUnfinished() { pending.reset(); }
    } dropUnfinished{pendingCores_};

    KV_LINE;
    h::MapPtr map = Map();
    std::optional<CoreStart> start = StartCores(kvProc_, map, folderName, shapefileName, strLayerName, strIDFieldName,
                                                "Error in creating layer " + shapefileName);
    if (!start) return;
    h::FeatureClassPtr cores = start->cores;

    KV_LINE;
    // Every patch is in the grid library's output, an empty core too.
    CoreAreaRun run(kvProc_, start->source, cores, strBufferSize, blnExplode, true);
    ProgressWindow progress;
    KV_LINE;
    try {
        ShowForm(*progress.form, false);
    } catch (...) {
    }
    KV_LINE;
    progress.form->setMax(static_cast<int32_t>(std::max<int64_t>(run.total(), 1)));
    progress.form->setValue(0);

    while (run.feature()) {
        run.step(kvProc_);
        KV_LINE;
        progress.form->setValue(progress.form->Value() + 1);
    }
    run.finish(kvProc_);

    KV_LINE;
    cores.reset();
    cores = PlaceCoreShapefile();
    KV_LINE;
    if (blnAddToMap) {
        auto layer = std::make_shared<h::FeatureLayer>(cores, cores->name());
        layer->setVisible(false);
        KV_LINE;
        map->addLayer(layer);
    }
}

}  // namespace kv
