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
#include "shared/KorvaneForm.h"

namespace kv {

// One saved core-area run, as the batch line holds it.
struct CoreAreaRequest {
    std::string folderName;       // without a trailing "/"
    std::string shapefileName;    // without ".shp"
    std::string strLayerName;
    std::string strIDFieldName;
    double strBufferSize = 0;
    bool blnExplode = true;
    bool blnAddToMap = true;
};

// "CreateCores " and the seven values separated by ", ", without a line end.
// The buffer size is the number's shortest text (50, 12.5); flags are True
// or False.
std::string CoreAreaBatchLine(const CoreAreaRequest& request);

// Why the request cannot be stored as a batch line without changing its
// meaning (a value holding ",", "[", "]" or a line break, or beginning or
// ending with a blank); empty when it can.
std::string CoreAreaBatchLineProblem(const CoreAreaRequest& request);

// The polygon parts of a shape in the order the shape holds them, each with
// its own holes; a single polygon gives itself, other shapes nothing.
std::vector<korvane::host::Geometry> PolygonParts(const korvane::host::Geometry& shape);

class frmCores : public KorvaneForm {
public:
    frmCores() : KorvaneForm("frmCores") {}

    // The focused map of ArcMapHook's document.
    korvane::host::MapPtr Map();

    // The whole run: the core areas of the layer's features (its selection
    // when it has one) written to folderName/shapefileName.shp. Every
    // outcome is shown to the user; nothing is raised to the caller.
    void CreateCores(const std::string& folderName, const std::string& shapefileName,
                     const std::string& strLayerName, const std::string& strIDFieldName, double strBufferSize,
                     bool blnExplode, bool blnAddToMap);

    // The empty core-area class (Shape, the ID field as defined, Patch_Area,
    // Core_Area, Area) that is to replace a dataset of that name: made under
    // a temporary name, and put in place of the old one (if any) only by
    // PlaceCoreShapefile; nothing when the creation failed or the old
    // dataset cannot be deleted. sr, when given, becomes the class's
    // coordinate system. Other failures are passed on as they are.
    korvane::host::FeatureClassPtr CreateCoreShapefile(const std::string& folderName,
                                                       const std::string& shapefileName,
                                                       const korvane::host::FieldDef& idField,
                                                       const korvane::host::SpatialReference* sr = nullptr);
    // Puts the class made by CreateCoreShapefile in place under its own
    // name (the old files are never deleted first) and returns it.
    korvane::host::FeatureClassPtr PlaceCoreShapefile();

protected:
    void design() override;
    void Form_Load() override;

private:
    void lstLayers_Click();
    void cboIdField_Change();
    void cboIdField_Click();
    void cboIdField_Validate(bool& cancel);
    void txtBufferSize_Change();
    void txtBufferSize_KeyPress(int& keyAscii);
    void txtFilenameOut_Click();
    void txtFilenameOut_GotFocus();
    void txtFilenameOut_LostFocus();
    void cmdOK_Click();
    void cmdCancel_Click();
    void cnmdBatch_Click();

    void GetOutputFile();
    void CheckOKEnabled();
    void OKRuleEvent(const char* procedure);
    CoreAreaRequest request();

    korvane::host::LayerPtr layer_;   // the layer last chosen in lstLayers
    bool fileChosenOnFocus_ = false;   // the click that gave the focus has had its save dialog
    std::unique_ptr<korvane::host::DatasetReplacement> pendingCores_;   // CreateCoreShapefile's class until placed
};

}  // namespace kv
