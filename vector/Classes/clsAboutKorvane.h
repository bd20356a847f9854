#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

class clsAboutKorvane : public VectorCommand {
public:
    clsAboutKorvane();

protected:
    std::unique_ptr<KorvaneForm> createDialog() override;
    bool handsHookToDialog() const override { return false; }
};

}  // namespace kv
