#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Analysis by Regions: opens the Spatial Analysis by Regions dialog, created once.
class clsRegionalAnalysis : public VectorCommand {
public:
    clsRegionalAnalysis();
    void OnClick() override;

protected:
    std::unique_ptr<KorvaneForm> createDialog() override;
};

}  // namespace kv
