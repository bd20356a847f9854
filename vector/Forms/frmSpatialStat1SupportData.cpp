#include "vector/Forms/frmSpatialStat1SupportData.h"

#include "host/Failure.h"
#include "shared/ErrorHandling.h"
#include "vector/Forms/frmSpatialStat1Progress.h"
#include "vector/Modules/modRunChecks.h"
#include "vector/Modules/modSpatialStats.h"

KV_MODULE("Forms/frmSpatialStat1");

namespace kv {

namespace h = korvane::host;

const char* SupportFieldName(SupportField f) {
    static constexpr const char* names[SupportFieldCount] = {"Area", "Perimeter", "SI", "PAR", "FD"};
    return names[f];
}

std::array<bool, SupportFieldCount> SupportFieldsNeeded(const std::vector<std::string>& CheckedBoxes) {
    std::array<bool, SupportFieldCount> need{};
    for (const std::string& box : CheckedBoxes) {
        Metric m;
        if (!MetricOfBox(box, m)) continue;
        switch (m) {
            case Metric::CA: case Metric::TLA: case Metric::MPS: case Metric::MedPS: case Metric::PSCoV:
            case Metric::PSSD: case Metric::SDI: case Metric::SEI: case Metric::TCA:
                need[SupportArea] = true;
                break;
            case Metric::TE:
                need[SupportPerimeter] = true;
                break;
            case Metric::ED: case Metric::MPE:
                need[SupportArea] = need[SupportPerimeter] = true;
                break;
            case Metric::MSI: case Metric::AWMSI:
                need[SupportArea] = need[SupportPerimeter] = need[SupportSI] = true;
                break;
            case Metric::MPAR:
                need[SupportArea] = need[SupportPerimeter] = need[SupportPAR] = true;
                break;
            case Metric::MPFD: case Metric::AWMPFD:
                need[SupportArea] = need[SupportPerimeter] = need[SupportFD] = true;
                break;
            case Metric::NumP: case Metric::CAD: case Metric::TCAI:
                break;
        }
    }
    return need;
}

bool AddSupportData(const h::FeatureClassPtr& TargetFeatureClass, const std::vector<std::string>& CheckedBoxes,
                    bool blnRaster, frmProgress& ProgressBar, SupportValues* computed) {
    bool result = false;
    KV_PROCEDURE("AddSupportData", TopLevel).run([&] {
        KV_LINE;
        if (!TargetFeatureClass) h::failObjectNotSet();
        h::FeatureClass& fc = *TargetFeatureClass;
        std::array<bool, SupportFieldCount> need = SupportFieldsNeeded(CheckedBoxes);
        int64_t needed = 0;
        for (bool n : need) needed += n;

        KV_LINE;
        int64_t features = fc.rowCount();
        ProgressSteps progress(ProgressBar);
        progress.start(needed * (features + 1));
        if (needed == 0) {
            result = true;
            return;
        }

        // The missing fields are added together, with one rewrite of the
        // attribute file.
        std::vector<h::FieldDef> missing;
        for (int f = 0; f < SupportFieldCount; ++f) {
            if (!need[f] || fc.findField(SupportFieldName(static_cast<SupportField>(f))) >= 0) continue;
            missing.push_back({SupportFieldName(static_cast<SupportField>(f)), h::FieldSingle, 0, 20, 5});
        }
        KV_LINE;
        if (!missing.empty()) fc.addFields(missing);
        progress.step(static_cast<int64_t>(missing.size()));
        std::array<int32_t, SupportFieldCount> at{};
        for (int f = 0; f < SupportFieldCount; ++f) at[f] = fc.findField(SupportFieldName(static_cast<SupportField>(f)));

        const double k = blnRaster ? 0.25 : 1.0;
        if (computed) {
            *computed = SupportValues();
            for (int f = 0; f < SupportFieldCount; ++f)
                if (need[f]) computed->values[f].reserve(static_cast<size_t>(features));
        }
        KV_LINE;
        h::Cursor cursor = fc.update(nullptr, true);
        KV_LINE;
        while (h::RowPtr row = cursor.next()) {
            // A self-intersecting ring is measured after repair.
            const h::Geometry shape = MeasuredShape(row->shape());
            double a = shape.area();
            double p = shape.length();
            const double value[SupportFieldCount] = {
                a, p, need[SupportSI] ? ShapeIndex(a, p, blnRaster) : 0, need[SupportPAR] ? PerimAreaRatio(a, p) : 0,
                need[SupportFD] ? FractalDimension(a, p, k) : 0};
            KV_LINE;
            for (int f = 0; f < SupportFieldCount; ++f) {
                if (!need[f]) continue;
                row->setValue(at[f], value[f]);
                if (computed) computed->values[f].push_back(value[f]);
            }
            KV_LINE;
            cursor.updateRow(*row);
            progress.step(needed);
        }
        KV_LINE;
        fc.flush();
        progress.show();
        result = true;
    });
    return result;
}

}  // namespace kv
