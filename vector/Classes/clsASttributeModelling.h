#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Attribute Modelling: opens the attribute modelling dialog, created once,
// so that its query-set library lasts as long as the command.
class clsAttributeModelling : public VectorCommand {
public:
    clsAttributeModelling();

protected:
    std::unique_ptr<KorvaneForm> createDialog() override;
};

}  // namespace kv
