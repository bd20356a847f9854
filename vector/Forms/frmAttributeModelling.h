#pragma once
// The Attribute Modelling dialog: a model is an ordered list of entries,
// each a value and a query; Run writes each entry's value into the target
// field for the features its query selects. Models are kept by name in the
// query-set library, which is kept with the map document (so it outlives
// the window and the command) and moves to and from query-set files with
// Export and Import.
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Document.h"
#include "host/data/FeatureLayer.h"
#include "shared/KorvaneForm.h"
#include "vector/Modules/modAttributeModel.h"

namespace kv {

class frmAttributeModelling : public KorvaneForm {
public:
    frmAttributeModelling() : KorvaneForm("frmAttributeModelling") {}

    korvane::host::MapPtr Map();
    const QuerySetLibrary& library() const { return library_; }

protected:
    void design() override;
    void Form_Load() override;

private:
    void cmdAdd_Click();
    void cmdRemoveEdit_Click();
    void cmdRemoveAll_Click();
    void lstQueryList_Click();
    void txtAttributeValue_Change();
    void txtQuery_Change();
    void cboCritterBox_Click();
    void cmdAddNewField_Click();
    void cmdRenameField_Click();
    void cmdCancel_Click();
    void cmdLoad_Click();
    void cmdSave_Click();
    void cmdDelete_Click();
    void cmdClear_Click();
    void cmdExport_Click();
    void cmdImport_Click();
    void cmdRun_Click();

    // The button-state rules.
    void addState();
    void removeEditState();
    void listStates();   // Remove All, Save, Run
    void loadState();
    void deleteState();

    void PopulateCritterBox();
    void PopulateQueryList();
    bool CheckFieldExistance();
    // The feature layer selected in the table of contents, or nothing.
    korvane::host::FeatureLayerPtr selectedFeatureLayer();
    // The selected feature layer, or nothing after "You need to select a layer first".
    korvane::host::FeatureLayerPtr layerForFieldWork();
    // The add-field dialog for the layer, then the field boxes refilled with
    // the new field (or "<New Field>") as target; whether a field was added.
    bool addFieldThroughDialog(const korvane::host::FeatureLayerPtr& layer);
    void refillFieldBoxes(const korvane::host::LayerPtr& layer);
    std::vector<std::string> queryListEntries();
    // The library put in the map document after every change.
    void keepLibrary();

    QuerySetLibrary library_;
};

}  // namespace kv
