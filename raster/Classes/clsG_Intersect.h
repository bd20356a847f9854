#pragma once
// Intersect (Combine) Grids (clsG_Intersect): combines two grid layers into
// one grid of a value per distinct pair of their values, saves it where the
// user chooses and adds it to the focused map. Enabled (cached, see
// GridCachingCommand) while the map's top level holds two raster layers.
#include "raster/Classes/GridCommand.h"

namespace kv {

class clsG_Intersect : public GridCachingCommand {
public:
    std::string Needs() override { return "two grid layers on the map"; }
    clsG_Intersect();
    void OnClick() override;

protected:
    bool EnabledTest() override;
};

}  // namespace kv
