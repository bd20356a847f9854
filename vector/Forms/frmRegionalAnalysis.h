#pragma once
// The Spatial Analysis by Regions dialog: a polygon layer, a region field
// and (at class level) a class field; Run computes the vector patch metrics
// region by region into one dBASE table and opens it in the map.
//
// The run (RunRegionalSpatialStats) and the table operations are public so
// that they can be used without showing the dialog.
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Document.h"
#include "host/data/Table.h"
#include "host/data/Value.h"
#include "shared/KorvaneForm.h"

namespace kv {

// Every patch of a layer grouped once by region and class (defined with the
// run).
struct RegionalPatches;
class frmProgress;
class ProgressSteps;

class frmRegionalAnalysis : public KorvaneForm {
public:
    frmRegionalAnalysis() : KorvaneForm("frmRegionalAnalysis") {}

    // The fifteen metric codes the dialog computes, in computing order (also
    // the order in which missing fields are added to the table).
    static const std::vector<std::string>& MetricList();

    // The focused map of ArcMapHook's document.
    korvane::host::MapPtr Map();

    // One region (class mode) or the whole layer (landscape mode) into the
    // table at strTableName: one row per class value present, each with the
    // metrics of the list. Problems are shown to the user; an unexpected
    // failure is raised to the caller. The result tells whether the output
    // table was obtained (false: nothing was written and later regions of
    // the same run have no table to add to).
    //
    // grouped: the layer's patches grouped by one pass (GroupPatches); the
    // region is then taken from it. Without it the region is searched on a
    // working copy of the layer, made for this call.
    bool RunRegionalSpatialStats(korvane::host::Application* app, const std::string& strLayerName,
                                 const std::string& strClassField, bool blnRaster, const std::string& strTableName,
                                 bool blnAppend, const std::vector<std::string>& metrics, bool blnLandscape,
                                 bool blnAsHectares, const std::string& strRegionField,
                                 const korvane::host::Value& regionValue, const RegionalPatches* grouped = nullptr);
    // Run takes every region from one pass over the layer; set, it searches
    // each region on its own working copy instead (the slower path, which
    // the one pass must agree with).
    bool searchEachRegion = false;

    // A copy of fcOriginal's dataset in strDirectory holding only the shape,
    // the object id, the support fields and the class and region fields;
    // nothing when it could not be made (the user has been told).
    korvane::host::FeatureClassPtr CopyAndRemoveFields(const std::string& strDirectory,
                                                       korvane::host::FeatureClass& fcOriginal,
                                                       const std::string& ClassField,
                                                       const std::string& RegionField);

    // The table layout: RunDate, the region column when a region field is
    // named (text 40 for a text field, otherwise numeric), Class; the metric
    // fields come from AddOtherFields. Replaces a table at the path; nothing
    // when that cannot be done (the user has been told).
    korvane::host::TablePtr CreateOutputTable(const std::string& path, const std::string& regionField,
                                              int32_t regionFieldType);
    // The existing table at the path, or nothing after a message.
    korvane::host::TablePtr GetOutputTable(const std::string& path);
    // Adds, in list order, a single-precision field for each name the table lacks.
    void AddOtherFields(korvane::host::Table& table, const std::vector<std::string>& names);
    // Puts the table in the focused map's table list.
    void Add_Table_TOC(const korvane::host::TablePtr& table);

    void GetSaveLocation();

protected:
    void design() override;
    void Form_Load() override;

private:
    void PopulateLayerList();
    void lstLayers_Click();
    void optClass_Click();
    void optLandscape_Click();
    void LevelChanged(const char* procedure);
    void txtTableName_Click();
    void cmdOK_Click();
    // The stages of cmdOK_Click, in order; false stops the run (its
    // message shown).
    struct RegionalRun;
    bool ReadRegionalChoices(RegionalRun& run);
    bool CheckRegionalRun(RegionalRun& run);
    void CountNullValues(RegionalRun& run);
    void RefreshAreaAndPerimeter(RegionalRun& run);
    void GroupRegionalPatches(RegionalRun& run, frmProgress& progressWindow, ProgressSteps& progress);
    bool WriteRegionalRows(RegionalRun& run, frmProgress& progressWindow, ProgressSteps& progress);
    void cmdCancel_Click();
    void setStatus(const std::string& text);
};

}  // namespace kv
