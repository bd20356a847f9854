#pragma once
// The Regions Statistics dialog: a class grid and its class field, a region
// layer and its region field, an optional response grid, the levels, the
// optional metrics and the fragstat parameters, run region by region through
// fragstat into a region statistics table, its cross-tabulations, the
// response summary and the join to the regions.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/data/Table.h"
#include "host/data/Value.h"
#include "shared/KorvaneForm.h"

namespace korvane::host {
class RasterLayer;
class RasterDataset;
}

namespace kv {

class frmAnalParams;
class FragStatsFolder;
struct FragStatsRunInfo;
struct GridStatsFile;

// The metric list of the OK button: the optional codes checked ("CWED, ",
// "MPI, ", "MNN, ", "IJI, " in that order), then the class list, or with
// the landscape level the landscape and class list.
std::string RegionStatsToRun(bool landscape, bool cwed, bool mpi, bool mnn, bool iji);

class frmGridRegionStats : public KorvaneForm {
public:
    frmGridRegionStats();
    ~frmGridRegionStats() override;

    korvane::host::MapPtr Map();

    // Exports the region's grid and runs fragstat on it in the run's private
    // folder (the grid statistics' routine, reporting under this dialog):
    // the base path of its output, or empty when it did not run.
    std::string RunFragStats(const korvane::host::RasterLayer& prlIn, bool blnMnn, bool blnCwed, bool blnDiag,
                             const std::string& bufferDistance, const std::string& MPIValue,
                             const std::string& BoundaryInfluence, const std::string& CWEDFileName,
                             bool TrackErrors);

    void PopulateFeatureLayersList(korvane::host::ComboBox& cboTarget);
    void PopulateRasterLayersList(korvane::host::ComboBox& cboTarget);
    void GetSaveLocation();

    // The whole run. True when it got to its end.
    bool RunGridRegionStats(const std::string& strRasterLayer, const std::string& strClassField,
                            const std::string& strRegionLayer, const std::string& strRegionField,
                            const std::string& strClassOrLand, bool blnAsClass, const std::string& strStatsToRun,
                            const std::string& strOutputTable, bool blnAppend, const std::string& strVerbose);

    std::optional<std::vector<korvane::host::Value>> GetClassValues(const korvane::host::RasterLayer& layer,
                                                                    const std::string& fieldName);

    // The cross-tabulations of the region statistics table over the rows of
    // `runs` (this call's run numbers), in the output table's folder; the
    // table written, or nothing after a failure (reported).
    korvane::host::TablePtr CrossTab(const korvane::host::TablePtr& inTable, const std::string& ClassName1,
                                     const std::string& ClassName2, const std::set<int32_t>& runs,
                                     int32_t* runOut = nullptr);
    korvane::host::TablePtr CrossTabArea(const korvane::host::TablePtr& inTable, const std::string& ClassName1,
                                         const std::string& ClassName2, const std::string& strSumFieldName,
                                         const std::string& strTableName, const std::set<int32_t>& runs,
                                         int32_t* runOut = nullptr);

    frmAnalParams* parameterDialog() { return params_.get(); }

protected:
    void design() override;
    void Form_Load() override;
    void Form_Unload(int& cancel) override;

private:
    // The stages of RunGridRegionStats, in order; each says whether the run
    // goes on (a refusal has been shown when it does not).
    struct RegionRun;
    bool FindRegionRunLayers(RegionRun& run);
    bool CheckRegionRunRequest(RegionRun& run);
    bool ListRegionValues(RegionRun& run);
    bool MeasureRegions(RegionRun& run);
    struct RegionInFlight;
    std::optional<RegionInFlight> StartRegion(RegionRun& run, int64_t i, const std::function<bool()>& drain);
    bool FinishRegion(RegionRun& run, RegionInFlight& region, int32_t& runBase);
    std::optional<std::vector<GridStatsFile>> ReadRegionFiles(RegionRun& run, const RegionInFlight& region);
    bool WriteRegionRunTable(RegionRun& run);
    void SummariseRegionResponse(RegionRun& run);
    bool WriteRegionCrossTabs(RegionRun& run);
    void JoinRegionResults(RegionRun& run);
    void Add_Table_TOC(const korvane::host::TablePtr& table);
    void cboClassLayer_Click();
    void cboRegionLayer_Click();
    void chkCaptureResponseLayer_Click();
    void txtTableName_Click();
    void optOverwrite_Click();
    void cmdParams_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void copyParameters();
    void status(const std::string& one, const std::optional<std::string>& two = std::nullopt);
    std::string crossTabFolder();

    std::unique_ptr<frmAnalParams> params_;
    // The private folder of the latest RunFragStats call; the run lets it go
    // once it has read the files.
    std::unique_ptr<FragStatsFolder> runFolder_;
    // What the latest RunFragStats call left besides its base path.
    std::unique_ptr<FragStatsRunInfo> runInfo_;
};

}  // namespace kv
