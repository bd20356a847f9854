#pragma once
#include <memory>
#include <vector>

#include "raster/Classes/GridCommand.h"
#include "raster/Forms/frmGridRegionStats.h"

namespace kv {

// Spatial Statistics (by Regions): opens a new Regions Statistics dialog on
// every click. Enabled (cached, see GridCachingCommand) while the focused map
// holds two layers or more, among them a feature layer and a usable integer
// grid.
class clsG_RegionStats : public GridCachingCommand {
public:
    std::string Needs() override { return "an integer grid layer and a feature layer on the map"; }
    clsG_RegionStats();
    void OnClick() override;

    // The dialog most recently opened (nullptr before the first click).
    frmGridRegionStats* dialog() const { return dialogs_.empty() ? nullptr : dialogs_.back().get(); }

protected:
    bool EnabledTest() override;

private:
    std::vector<std::unique_ptr<frmGridRegionStats>> dialogs_;
};

}  // namespace kv
