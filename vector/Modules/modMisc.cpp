#include "vector/Modules/modMisc.h"

#include "host/Application.h"
#include "host/Failure.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/modMisc");

namespace kv {

namespace h = korvane::host;

bool IsLayerSelected(h::Application* app) {
    bool result = false;
    KV_PROCEDURE("IsLayerSelected", TopLevel).run([&] {
        KV_LINE;
        if (!app) h::failObjectNotSet();
        KV_LINE;
        h::MapPtr map = app->document()->focusMap();
        KV_LINE;
        if (map->layerCount() < 1) return;
        KV_LINE;
        h::LayerPtr sel = app->document()->selectedLayer();
        KV_LINE;
        if (!sel) return;
        KV_LINE;
        result = sel->kind() == h::LayerKind::Feature;
    });
    return result;
}

}  // namespace kv

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "host/System.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/modMisc.h"
#include "vector/Modules/modRunChecks.h"

namespace kv {

namespace {
std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}
}  // namespace

void AddFeatureLayerNames(const h::MapPtr& map, h::ListBox& list) {
    if (!map) return;
    for (const h::LayerPtr& layer : map->layers())
        if (layer->kind() == h::LayerKind::Feature) list.addItem(layer->name());
}

void PopulateFieldListBox(const h::LayerPtr& layer, h::ComboBox& combo) {
    KV_PROCEDURE("PopulateFieldListBox", TopLevel).run([&] {
        KV_LINE;
        if (!layer) {
            MsgBox("PopulateFieldListBox cannot find layer ''", h::mb::Critical, "Layer Not Found");
            return;
        }
        KV_LINE;
        const h::Fields& fields = featureLayerOf(layer).featureClass()->fields();
        KV_LINE;
        if (fields.count() > 0) {
            combo.clear();
            for (int32_t i = 0; i < fields.count(); ++i) {
                KV_LINE;
                const std::string& name = fields.field(i).name;
                std::string u = upper(name);
                if (u != "FID" && u != "SHAPE") combo.addItem(name);
            }
            return;
        }
        KV_LINE;
        MsgBox(layer->name() + " has no fields in it", h::mb::OKOnly);
    });
}

std::optional<h::Cursor> getCursor(const h::LayerPtr& layer, const std::string& whereClause) {
    std::optional<h::Cursor> result;
    KV_PROCEDURE("getCursor", TopLevel).run([&] {
        KV_LINE;
        h::FeatureLayer& fl = featureLayerOf(layer);
        KV_LINE;
        const h::SelectionSet& sel = fl.selectionSet();
        bool onSelection = sel.count() > 0;
        KV_LINE;
        if (whereClause.empty()) {
            KV_LINE;
            result = onSelection ? sel.search(nullptr, false) : fl.featureClass()->search(nullptr, false);
            return;
        }
        // From here on a rejected clause gives nothing, without a message:
        // callers try again with another clause.
        h::QueryFilter filter(whereClause);
        try {
            result = onSelection ? sel.search(&filter, false) : fl.featureClass()->search(&filter, false);
        } catch (const h::Failure&) {
            result.reset();
        }
    });
    return result;
}

void AddAreaAndPerimFields(const h::LayerPtr& layer, bool noConfirm, AreaAndPerimeter* written) {
    if (written) *written = AreaAndPerimeter();
    AreaAndPerimeter values;
    KV_PROCEDURE("AddAreaAndPerimFields", TopLevel).run([&] {
        KV_LINE;
        if (!layer) {
            MsgBox("Requested layer cannot be found.  Cannot add Area and Perimeter fields", h::mb::Information,
                   "Invalid Layer Selection");
            return;
        }
        KV_LINE;
        auto fc = featureLayerOf(layer).featureClass();
        KV_LINE;
        std::string dbf = h::fs::BuildPath(fc->workspacePath(), fc->name() + ".dbf");
        KV_LINE;
        if (h::fs::IsReadOnly(dbf)) {
            MsgBox("Cannot add area and perimeter to " + fc->name() + ".\r\nFile is Read-Only.", h::mb::OKOnly,
                   "File Access Error");
            return;
        }
        // Areas and perimeters belong to polygons: a point or line layer is
        // refused before any field is made.
        KV_LINE;
        if (fc->shapeType() != h::ShapeType::Polygon) {
            MsgBox("Cannot add area and perimeter to " + fc->name() + ".\r\nThe layer does not hold polygons.",
                   h::mb::Exclamation, "Invalid Layer Selection");
            return;
        }
        // Every feature is measured and checked before the first write, so
        // that the source is changed whole or not at all: a feature without a
        // polygon, or a value its field cannot hold, stops the command here.
        KV_LINE;
        std::vector<std::pair<double, double>> measures;
        {
            h::Cursor check = fc->search(nullptr, true);
            while (auto feature = check.next()) {
                const h::Geometry& shape = feature->shape();
                if (shape.isEmpty() || shape.type() != h::ShapeType::Polygon)
                    h::fail(h::err::HostGeneric, "Korvane",
                            "Feature " + std::to_string(feature->oid()) + " has no polygon shape.");
                h::Geometry measured = MeasuredShape(shape);
                measures.push_back({measured.area(), measured.length()});
            }
        }
        for (const char* name : {"Area", "Perimeter"}) {
            int32_t index = fc->findField(name);
            if (index < 0) continue;
            const h::FieldDef& f = fc->fields().field(index);
            for (const auto& [a, p] : measures) {
                double v = std::string(name) == "Area" ? a : p;
                bool fits = f.type == h::FieldSingle || f.type == h::FieldDouble
                                ? f.precision <= 0 || fmt::format("{:.{}f}", v, f.scale).size() <= static_cast<size_t>(f.precision)
                                : f.type != h::FieldString;
                if (!fits)
                    h::fail(h::err::HostGeneric, "Korvane",
                            fmt::format("The {} {} does not fit the field {} of {}.  Nothing was changed.",
                                        std::string(name) == "Area" ? "area" : "perimeter", v, name, fc->name()));
            }
        }
        // The new fields and the values reach the files together, in one
        // edit session: a failure on the way leaves them as they were.
        h::EditSession edit(*fc);
        auto prepare = [&](const char* name, const char* question) {
            int32_t index = fc->findField(name);
            if (index == -1) {
                h::FieldDef def{name, h::FieldSingle, 0, 20, 5};
                fc->addField(def);
                return fc->findField(name);
            }
            if (noConfirm) return index;
            int32_t answer = MsgBox(question, h::mb::YesNo | h::mb::Question | h::mb::DefaultButton2, "Confirm Changes");
            return answer == h::mb::Yes ? index : -1;
        };
        KV_LINE;
        int32_t areaIndex = prepare("Area", "Overwrite existing Area field?");
        KV_LINE;
        int32_t perimIndex = prepare("Perimeter", "Overwrite existing Perimeter field?");
        if (areaIndex < 0 && perimIndex < 0) return;
        KV_LINE;
        h::Cursor cursor = fc->update(nullptr, false);
        KV_LINE;
        size_t at = 0;
        while (auto feature = cursor.next()) {
            KV_LINE;
            if (at >= measures.size()) break;
            const auto [area, perimeter] = measures[at++];
            // Only these two fields are written: every other field keeps the
            // bytes the file holds.
            if (areaIndex >= 0) feature->setValue(areaIndex, area);
            if (perimIndex >= 0) feature->setValue(perimIndex, perimeter);
            KV_LINE;
            cursor.updateRow(*feature);
            if (written && feature->oid() == static_cast<int64_t>(values.area.size())) {
                values.area.push_back(area);
                values.perimeter.push_back(perimeter);
            }
        }
        KV_LINE;
        edit.commit();
        if (written && areaIndex >= 0 && perimIndex >= 0 &&
            static_cast<int64_t>(values.area.size()) == fc->rowCount())
            *written = std::move(values);
    });
}

}  // namespace kv
