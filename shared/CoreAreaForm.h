#pragma once
// The Create Core Areas dialog as both libraries lay it out (caption "Create
// Core Areas"): the layer list, the ID field, the output shapefile chosen in
// a save dialog, the edge width, "Detach multiple cores" and "Add layer to
// map", OK, Cancel and Batch. The choosing of a layer, the OK rule, the key
// filter of the width, the save dialog and Cancel are the same in both; each
// library's frmCores adds its own loading, ID field list, OK and Batch.
#include <memory>
#include <optional>
#include <string>

#include "host/Document.h"
#include "host/Forms.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "shared/ErrorHandling.h"
#include "shared/KorvaneForm.h"
#include "shared/modCoreAreas.h"

namespace kv {

// One core-area run as the dialog's choices give it (and a batch line holds it).
struct CoreAreaRequest {
    std::string folderName;       // without a trailing "/"
    std::string shapefileName;    // without ".shp"
    std::string strLayerName;
    std::string strIDFieldName;
    double strBufferSize = 0;
    bool blnExplode = true;
    bool blnAddToMap = true;
};

class CoreAreaForm : public KorvaneForm {
public:
    CoreAreaForm() : KorvaneForm("frmCores") {}

    // The focused map of ArcMapHook's document.
    korvane::host::MapPtr Map();

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
    // The whole run: the core areas of the layer's features (its selection
    // when it has one) written to folderName/shapefileName.shp.
    virtual void CreateCores(const std::string& folderName, const std::string& shapefileName,
                             const std::string& strLayerName, const std::string& strIDFieldName,
                             double strBufferSize, bool blnExplode, bool blnAddToMap) = 0;

    // Puts the class made by CreateCoreShapefile in place under its own
    // name (the old files are never deleted first) and returns it.
    korvane::host::FeatureClassPtr PlaceCoreShapefile();

protected:
    void design() override;
    // The boxes emptied, OK disabled, the ID list cleared, the file box locked.
    void ResetChoices();
    // The run's arguments from the controls: the folder and name of the
    // chosen file (".shp" in any letter case taken off), the layer, the ID
    // field, the width as a number (a type mismatch when the text is none)
    // and the two options. Fails when no file has been chosen.
    CoreAreaRequest request();
    // A run's first stages: the request checked (CheckCoreRequest) and the
    // empty output class made in the source's coordinate system; nothing
    // after a message (notCreated, titled "Shapefile not created", when the
    // class cannot be made).
    struct CoreStart {
        CoreSource source;
        korvane::host::FeatureClassPtr cores;
    };
    std::optional<CoreStart> StartCores(Procedure& kvProc_, const korvane::host::MapPtr& map,
                                        const std::string& folderName, const std::string& shapefileName,
                                        const std::string& strLayerName, const std::string& strIDFieldName,
                                        const std::string& notCreated);
    // OK's run: CreateCores on the choices, under the wait cursor.
    void RunChosen(Procedure& kvProc_);

    virtual void FillIdFields(const korvane::host::LayerPtr& layer, korvane::host::ComboBox& combo) = 0;
    virtual void cmdOK_Click() = 0;
    virtual void cnmdBatch_Click() = 0;
    void cmdCancel_Click();

    korvane::host::LayerPtr layer_;   // the layer last chosen in lstLayers
    std::unique_ptr<korvane::host::DatasetReplacement> pendingCores_;   // CreateCoreShapefile's class until placed

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

    void GetOutputFile();
    void CheckOKEnabled();
    void OKRuleEvent(const char* procedure);

    bool fileChosenOnFocus_ = false;   // the click that gave the focus has had its save dialog
};

}  // namespace kv
