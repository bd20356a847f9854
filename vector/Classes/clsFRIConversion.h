#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Parse Species Composition String: spreads a species composition string
// field of the selected layer into one small-integer field per species.
// No dialog; the work runs on the click.
class clsFRIConversion : public VectorCommand {
public:
    clsFRIConversion();

protected:
    void clickWithoutDialog() override;
};

}  // namespace kv
