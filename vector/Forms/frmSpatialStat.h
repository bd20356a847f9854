#pragma once
// The Spatial Statistics dialog: one metric request on a feature layer of
// the focused map (class field, landscape or class level, the metrics, vector
// or raster shapes, hectares, add to map, the output table), run at once or
// saved as a line of the batch file.
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Document.h"
#include "shared/KorvaneForm.h"

namespace kv {

// A request as the run takes it (everything but the host application).
struct SpatialStatsRequest {
    std::string ThemeName;
    std::string ClassField;
    bool blnRaster = false;
    bool blnAddNewLayerToMap = false;
    std::string NewTableFileName;
    bool blnAppend = true;
    std::vector<std::string> CheckedBoxes;
    bool blnLandscape = false;
    bool blnAsHectares = false;
};

// The stored form of a request, without its line end:
// "RunSpatialStats ArcMapHook, " and the nine values separated by ", ", the
// check-box names as one bracketed list joined by ",". A saved run always
// appends, so blnAppend is written as True whatever the request says.
std::string SpatialStatsBatchLine(const SpatialStatsRequest& request);

// Why a request cannot be stored as a batch line without changing its
// meaning (a text value that holds ",", "[", "]" or a line break, or begins
// or ends with a blank, which the batch reader splits at or trims), as a
// message for the user; empty when it can.
std::string BatchLineProblem(const SpatialStatsRequest& request);

class frmSpatialStat : public KorvaneForm {
public:
    frmSpatialStat() : KorvaneForm("frmSpatialStat") {}

    // The focused map of ArcMapHook's document.
    korvane::host::MapPtr Map();

    // Shows the save dialog for the output table and puts the path chosen
    // (after Cancel: the one chosen before) into txtOutputTableName.
    void GetSaveLocation();

    // Turns the dialog's state into one request: runs it (blnBatch false)
    // or appends it to the batch file (blnBatch true).
    void ExecuteStatistics(bool blnBatch);

    // The metric run, on this dialog (whose window owns the progress
    // window). Failures pass to the caller.
    void RunSpatialStats(korvane::host::Application* ArcMapApp, const std::string& ThemeName,
                         const std::string& ClassField, bool blnRaster, bool blnAddNewLayerToMap,
                         const std::string& NewTableFileName, bool blnAppend,
                         const std::vector<std::string>& CheckedBoxes, bool blnLandscape, bool blnAsHectares);

protected:
    void design() override;
    void Form_Activate() override;

private:
    void PopulateLayerList();
    void lstLayers_Click();
    void optClass_Click();
    void optLandscape_Click();
    void txtOutputTableName_Click();
    void optOverwrite_Click();
    void cmdSelectAll_Click();
    void cmdSelectNone_Click();
    void cmdOK_Click();
    void cmdBatch_Click();
    void cmdCancel_Click();

    // The names of the metric check boxes that are checked and enabled, in
    // control order; the single item "NIL" when none is.
    std::vector<std::string> CheckedBoxes();
    void levelChanged();
    void setAllMetricBoxes(bool checked);
    SpatialStatsRequest request();
};

}  // namespace kv
