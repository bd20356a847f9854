#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Create core areas: opens the Create Core Areas dialog, created once.
class clsCreateCores : public VectorCommand {
public:
    clsCreateCores();

protected:
    std::unique_ptr<KorvaneForm> createDialog() override;
};

}  // namespace kv
