#pragma once
// The Grid Spatial Statistics dialog: an integer grid of the focused map, its
// class field, the levels (landscape, class), the metrics and the fragstat
// parameters, run through fragstat into a grid spatial statistics table.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/data/Value.h"
#include "raster/Modules/modGridStatsTable.h"
#include "shared/KorvaneForm.h"

namespace korvane::host {
class RasterLayer;
}

namespace kv {

class frmAnalParams;

// One metric box of the dialog, in control order.
struct GridMetricBox {
    const char* name;
    const char* caption;
    const char* frame;     // the group that holds it ("fraOptions" for the Options group itself)
    bool checkedAtLoad;
    bool enabledAtLoad;
    bool alwaysDisabled;
    const char* codes;     // its fragstat code, or a comma-separated code list
    bool basic;            // one of the basic metric set
};
extern const GridMetricBox kGridMetricBoxes[30];

// The code list of the chosen entries: each code once, in first-seen order,
// entries with commas split (blanks after a comma trimmed).
std::vector<std::string> BuildChosenStats(const std::vector<std::string>& chosenEntries);

class frmGridSpatialStats : public KorvaneForm {
public:
    frmGridSpatialStats();
    ~frmGridSpatialStats() override;

    // The focused map of ArcMapHook's document.
    korvane::host::MapPtr Map();

    // Refills the layer list with the raster layers of the focused map.
    void PopulateLayersList();
    // The save dialog for the output table.
    void GetSaveLocation();

    // The whole run: fragstat on the layer, its output into the table. True
    // when every requested output file was read and written to the table.
    bool RunGridSpatialStats(const std::string& strRasterLayerIn, const std::string& strClassField, bool as8N,
                             const std::string& outputTableName, bool blnAppend,
                             const std::vector<std::string>& ChosenStats, bool TrackErrors,
                             const std::string& bufferDistance, const std::string& MPIValue,
                             const std::string& CWEDFileName, const std::string& BoundaryInfluence,
                             const std::string& ClassLandscape, bool ConvertUnits);

    // The distinct values of a field of the layer's raster table, in the order
    // the rows first show them; nothing (after a message) when the field is
    // missing or the table cannot be read.
    std::optional<std::vector<korvane::host::Value>> GetClassValues(const korvane::host::RasterLayer& RasterLayerIn,
                                                                    const std::string& ClassName);
    // The index of the first element equal to the value (texts compare
    // case-sensitively), or -1.
    int32_t SearchArray(const std::vector<std::string>& InArray, const std::string& SearchValue);

    // The parameter dialog this dialog keeps (created at load).
    frmAnalParams* parameterDialog() { return params_.get(); }

protected:
    void design() override;
    void Form_Load() override;
    void Form_Unload(int& cancel) override;

private:
    void lstLayers_Click();
    void chkClass_Click();
    void chkLandscape_Click();
    void cmdSelectAll_Click();
    void cmdSelectBasic_Click();
    void cmdSelectNone_Click();
    void txtOutputTableName_Click();
    void optOverwrite_Click();
    void cmdParams_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void m_pMap_ItemAdded();
    void m_pMap_ItemDeleted();

    void copyParameters();
    void subscribe();
    void unsubscribe();
    void releaseParameterDialog();
    bool isMetricBox(const korvane::host::Control& c) const;
    // The stages of RunGridSpatialStats (frmGridSpatialStatsRun.cpp).
    struct GridRun;

    GridFieldRenames renames_;
    std::unique_ptr<frmAnalParams> params_;
    korvane::host::MapPtr theMap_;
    int addedToken_ = 0, deletedToken_ = 0;
};

}  // namespace kv
