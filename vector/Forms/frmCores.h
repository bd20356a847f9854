#pragma once
// The Create Core Areas dialog: a feature layer, its ID field, an output
// shapefile, an edge width and two options; OK runs the core-area generation,
// Batch saves the run as a line of the batch file. The run itself
// (CreateCores, CreateCoreShapefile) works on a dialog that is never shown,
// as the batch runner uses it.
#include <memory>
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Document.h"
#include "host/data/Field.h"
#include "host/data/Geometry.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "shared/CoreAreaForm.h"
#include "shared/modCoreAreas.h"   // PolygonParts

namespace kv {

// "CreateCores " and the seven values separated by ", ", without a line end.
// The buffer size is the number's shortest text (50, 12.5); flags are True
// or False.
std::string CoreAreaBatchLine(const CoreAreaRequest& request);

// Why the request cannot be stored as a batch line without changing its
// meaning (a value holding ",", "[", "]" or a line break, or beginning or
// ending with a blank); empty when it can.
std::string CoreAreaBatchLineProblem(const CoreAreaRequest& request);

class frmCores : public CoreAreaForm {
public:
    // The whole run: the core areas of the layer's features (its selection
    // when it has one) written to folderName/shapefileName.shp. Every
    // outcome is shown to the user; nothing is raised to the caller.
    void CreateCores(const std::string& folderName, const std::string& shapefileName,
                     const std::string& strLayerName, const std::string& strIDFieldName, double strBufferSize,
                     bool blnExplode, bool blnAddToMap) override;


protected:
    void Form_Load() override;
    void FillIdFields(const korvane::host::LayerPtr& layer, korvane::host::ComboBox& combo) override;
    void cmdOK_Click() override;
    void cnmdBatch_Click() override;
};

}  // namespace kv
