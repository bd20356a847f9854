#include "vector/Classes/clsFRIConversion.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmProgress.h"
#include "shared/modMisc.h"
#include "shared/modSimpleInput.h"
#include "vector/Modules/modDerivedFields.h"
#include "vector/Modules/modSpeciesComposition.h"

KV_MODULE("Classes/clsFRIConversion");

namespace kv {

namespace h = korvane::host;

clsFRIConversion::clsFRIConversion()
    : VectorCommand(kvModulePath_, "ParseSpecies", "Parse Species Composition String", EnabledRule::LayerSelected) {}

void clsFRIConversion::clickWithoutDialog() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        KV_LINE;
        CheckAndSetMapUnits(hook());
        KV_LINE;
        h::LayerPtr selected = hook()->document()->selectedLayer();
        if (!selected) {
            MsgBox("One layer, and only one, needs to be selected (highlighted).", h::mb::Exclamation,
                   "FRI String Conversion");
            return;
        }
        KV_LINE;
        h::FeatureLayer& layer = featureLayerOf(selected);
        KV_LINE;
        int32_t go = MsgBox(
            "This interprets the species composition string used in many forest resource inventories\r\n"
            "as separate variables for each species, and then adds a new variable to the table for\r\n"
            "each separate species.\r\n"
            "\r\n"
            "In the example FRI string:   Sb8Bw1Po1\r\n"
            "Sb=80, Bw=10 and Po=10.\r\n"
            "A 0 would equal 100.\r\n"
            "\r\n"
            "Continue?",
            h::mb::YesNo | h::mb::Question, "FRI String Conversion");
        if (go == h::mb::No) return;
        KV_LINE;
        std::string field = ListInput("\r\nChoose Field Containing FRI String", GetFields(selected), "Interpret FRI String");
        if (field.empty()) {
            MsgBox("A field needs to be selected first", h::mb::Exclamation, "Missing Field");
            return;
        }
        KV_LINE;
        h::FeatureClass& fc = *layer.featureClass();
        int64_t count = fc.rowCount();
        // The hourglass from the progress window's start to its end.
        std::optional<WaitCursor> wait(std::in_place);
        frmProgress progress;
        progress.load();
        progress.progBar().setMax(static_cast<float>(std::max<int64_t>(count, 1)));
        ShowForm(progress, false);
        auto step = [&](int64_t done) { progress.progBar().setValue(static_cast<float>(std::min(done, count))); };
        // Every string is read and every field name settled before the
        // layer changes; a refusal changes nothing.
        KV_LINE;
        SpeciesPlan plan;
        try {
            plan = PlanSpeciesConversion(fc, field, step);
        } catch (const RunRefused& f) {
            progress.unload();
            wait.reset();
            MsgBox(f.description() + "\r\nNothing was changed.", h::mb::Exclamation, "FRI String Conversion");
            return;
        }
        KV_LINE;
        progress.progBar().setValue(0);
        WriteSpeciesConversion(fc, plan, step);
        step(count);
        KV_LINE;
        progress.unload();
    });
}

}  // namespace kv
