#include "vector/Forms/frmSpatialStat1WorkingCopy.h"

#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Forms/frmSpatialStat1");

namespace kv {

namespace h = korvane::host;

h::FeatureClassPtr SaveSelectedFeatures(const h::LayerPtr& SourceLayer, const std::string& NewShapeName,
                                        const std::string& Directory) {
    h::FeatureClassPtr result;
    KV_PROCEDURE("SaveSelectedFeatures", TopLevel).run([&] {
        KV_LINE;
        auto layer = std::dynamic_pointer_cast<h::FeatureLayer>(SourceLayer);
        if (!layer || !layer->featureClass())
            h::failObjectNotSet();
        const h::SelectionSet& selection = layer->selectionSet();
        h::FeatureClass& source = *layer->featureClass();
        KV_LINE;
        h::ShapefileWorkspace target = h::ShapefileWorkspace::open(Directory);
        if (selection.count() < 1) {
            KV_LINE;
            h::TablePtr copy = target.copyDataset(source, NewShapeName);
            KV_LINE;
            result = std::dynamic_pointer_cast<h::FeatureClass>(copy);
            if (!result) h::fail(h::err::HostGeneric, "Korvane", "The copy of " + source.name() + " is no feature class.");
        } else {
            KV_LINE;
            result = target.exportFeatures(source, selection, NewShapeName);
        }
    });
    return result;
}

}  // namespace kv
