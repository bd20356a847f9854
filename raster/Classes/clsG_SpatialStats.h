#pragma once
#include <memory>
#include <vector>

#include "raster/Classes/GridCommand.h"
#include "raster/Forms/frmGridSpatialStats.h"

namespace kv {

// Spatial Statistics (FragStats Interface): opens a new Grid Spatial
// Statistics dialog on every click; dialogs of earlier clicks stay open until
// they are closed. Enabled (cached, see GridCachingCommand) while the focused
// map holds a usable integer grid.
class clsG_SpatialStats : public GridCachingCommand {
public:
    std::string Needs() override { return "an integer grid layer on the map"; }
    clsG_SpatialStats();
    void OnClick() override;

    // The dialog most recently opened (nullptr before the first click).
    frmGridSpatialStats* dialog() const { return dialogs_.empty() ? nullptr : dialogs_.back().get(); }
    size_t openDialogs() const;

protected:
    bool EnabledTest() override;

private:
    std::vector<std::unique_ptr<frmGridSpatialStats>> dialogs_;
};

}  // namespace kv
