#pragma once
#include "raster/Classes/GridCommand.h"

namespace kv {

// Korvane Help: opens the help page beside the library.
class clsG_KVHelp : public GridCommand {
public:
    clsG_KVHelp();
    bool Enabled() override;
    void OnClick() override;
};

}  // namespace kv
