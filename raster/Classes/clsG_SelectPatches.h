#pragma once
#include "raster/Classes/GridCommand.h"

namespace kv {

// Select Patches Based on Attributes: registered, on no menu. Enabled while
// the layer selected in the table of contents is a raster layer (worked out
// on every call); a click checks that one grid layer is selected, says what
// is wrong when not, and does nothing further.
class clsG_SelectPatches : public GridCommand {
public:
    clsG_SelectPatches();
    bool Enabled() override;
    void OnClick() override;
};

}  // namespace kv
