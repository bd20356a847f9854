#pragma once
// Clip Grids to Polygon Theme (clsG_Clip): cuts a grid layer to the
// polygons of a polygon layer (its selected polygons when it has a
// selection), saves the clipped grid where the user chooses and adds it to
// the focused map. Enabled (cached, see GridCachingCommand) while the map's
// top level holds a feature layer and a raster layer.
#include "raster/Classes/GridCommand.h"

namespace kv {

class clsG_Clip : public GridCachingCommand {
public:
    std::string Needs() override { return "a grid layer and a feature layer on the map"; }
    clsG_Clip();
    void OnClick() override;

protected:
    bool EnabledTest() override;
};

}  // namespace kv
