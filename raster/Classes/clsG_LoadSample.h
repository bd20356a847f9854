#pragma once
#include "raster/Classes/GridCommand.h"

namespace kv {

// Load Sample Data: registered, on no menu; always enabled, and a click
// does nothing. Creating it leaves the library's title as it is.
class clsG_LoadSample : public GridCommand {
public:
    clsG_LoadSample();
    bool Enabled() override;
    void OnClick() override;
};

}  // namespace kv
