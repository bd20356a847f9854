#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Opens the library's help page.
class clsKorvaneHelp : public VectorCommand {
public:
    clsKorvaneHelp();
    void OnCreate(korvane::host::Application* hook) override;

protected:
    void clickWithoutDialog() override;
};

}  // namespace kv
