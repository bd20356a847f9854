#include "vector/Classes/clsNeighbourhoodMean.h"

#include <algorithm>
#include <optional>

#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmAddField.h"
#include "shared/frmProgress.h"
#include "shared/modMisc.h"
#include "shared/modSimpleInput.h"
#include "vector/Modules/modNeighbourhoodMean.h"
#include "vector/Modules/modDerivedFields.h"

KV_MODULE("Classes/clsNeighbourhoodMean");

namespace kv {

namespace h = korvane::host;

std::string MapUnitName(int32_t code) {
    static const char* const names[] = {"Unknown",     "Inches",      "Points",     "Feet",       "Yards",
                                        "miles",       "Nautical miles", "Millimeters", "Centimeters", "Meters",
                                        "Kilometers",  "Decimal degrees", "Decimeters"};
    if (code < 0 || code > 12) return {};
    return names[code];
}

clsNeighbourhoodMean::clsNeighbourhoodMean()
    : VectorCommand(kvModulePath_, "neighbourhood_mean", "Neighbourhood mean", EnabledRule::LayerSelected) {}

namespace {

bool isMeanFieldType(int32_t t) {
    return t == h::FieldSmallInteger || t == h::FieldInteger || t == h::FieldSingle || t == h::FieldDouble;
}

void fieldTypeMessage(const std::string& first, const std::string& field) {
    MsgBox(first + "\r\nField \"" + field + "\" is not numeric.", h::mb::Information, "Field Type Error");
}

}  // namespace

void clsNeighbourhoodMean::clickWithoutDialog() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        KV_LINE;
        h::MapPtr map = Map();
        if (!map || map->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue", h::mb::OKOnly);
            return;
        }
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        CheckAndSetMapUnits(hook());
        KV_LINE;
        h::LayerPtr selected = hook()->document()->selectedLayer();
        if (!selected) {
            MsgBox("You need to have one, and only one, layer selected.", h::mb::Information, "Invalid Layer Selection");
            return;
        }
        KV_LINE;
        h::FeatureLayer& layer = featureLayerOf(selected);
        h::FeatureClassPtr fc = layer.featureClass();
        // Only polygons have the area centroids the means are taken between.
        if (fc->shapeType() != h::ShapeType::Polygon) {
            MsgBox("Neighbourhood means are taken between polygons; " + layer.name() + " is not a polygon layer.",
                   h::mb::Information, "Invalid Layer Selection");
            return;
        }
        KV_LINE;
        // The distances are measured in the layer's own coordinates: the
        // prompt names its units when they are known and not the map's.
        std::string units = MapUnitName(map->mapUnits());
        int32_t layerUnits = fc->units();
        std::string unitLine = "Using current map units of " + units;
        if (layerUnits != 0 && layerUnits != map->mapUnits())
            unitLine = "Using the layer's coordinate units of " + MapUnitName(layerUnits);
        std::string title = "Neighbourhood Mean for " + layer.name();
        KV_LINE;
        std::vector<std::string> names = GetFields(selected);
        std::string source = ListInput("Choose a field from which to derive a mean", names, title);
        if (source.empty()) return;
        int32_t sourceIndex = fc->findField(source);
        if (sourceIndex < 0 || !isMeanFieldType(fc->fields().field(sourceIndex).type)) {
            fieldTypeMessage("Derivation field must be of numeric type.", source);
            return;
        }
        KV_LINE;
        std::string answer = h::InputBox("Threshold Distance?\r\n" + unitLine, title, "2000");
        double threshold = 0;
        for (;;) {
            if (answer.empty()) return;
            if (!h::parseNumber(answer, threshold)) {
                MsgBox("Invalid entry.  Must be a number.", h::mb::Exclamation, "Bad Data Type");
            } else if (threshold < 0) {
                MsgBox("Invalid entry.  The distance must not be negative.", h::mb::Exclamation, "Bad Data Type");
            } else {
                break;
            }
            answer = h::InputBox("Threshold Distance?", title, "2000");
        }
        KV_LINE;
        names.push_back("<New Field>");
        std::string target = ListInput("Choose a field for the mean", names, title);
        if (target.empty()) return;
        // A field added here reaches the file with the means, or not at
        // all: a failed write or a kill takes it with them. Stopped with a
        // message before the first mean, the run keeps it.
        std::optional<h::EditSession> edit;
        if (target == "<New Field>") {
            KV_LINE;
            edit.emplace(*fc);
            int32_t before = fc->fields().count();
            frmAddField dlg;
            dlg.setLayer(selected);
            ShowForm(dlg, true);
            if (fc->fields().count() == before) return;
            target = fc->fields().field(fc->fields().count() - 1).name;
        }
        int32_t targetIndex = fc->findField(target);
        if (targetIndex < 0 || !isMeanFieldType(fc->fields().field(targetIndex).type)) {
            fieldTypeMessage("Destination field must be of numeric type.", target);
            if (edit) edit->commit();
            return;
        }
        KV_LINE;
        frmProgress progress;
        progress.load();
        progress.setMax(static_cast<int32_t>(std::min<int64_t>(
            layer.selectionSet().empty() ? fc->rowCount() : layer.selectionSet().count(), INT32_MAX)));
        progress.setValue(0);
        progress.setOwner(hook()->hWnd());
        ShowForm(progress, false);
        KV_LINE;
        try {
            int32_t max = progress.progBar().max() > 0 ? static_cast<int32_t>(progress.progBar().max()) : 0;
            RunNeighbourhoodMean(*fc, &layer.selectionSet(), sourceIndex, targetIndex, threshold, [&](int64_t done) {
                progress.setValue(static_cast<int32_t>(std::min<int64_t>(done, max)));
            });
        } catch (const RunRefused& f) {
            progress.unload();
            MsgBox(f.description() + "\r\nNothing was changed.", h::mb::Exclamation, "Neighbourhood Mean");
            return;
        }
        KV_LINE;
        if (edit) edit->commit();
        progress.unload();
    });
}

}  // namespace kv
