#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Spatial Statistics: opens the Spatial Statistics dialog, created once.
class clsSpatialStats : public VectorCommand {
public:
    clsSpatialStats();

protected:
    std::unique_ptr<KorvaneForm> createDialog() override;
};

}  // namespace kv
