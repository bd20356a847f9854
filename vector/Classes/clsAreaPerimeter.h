#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Add/Refresh Area and Perimeter fields: gives the layer selected in the
// table of contents the fields Area and Perimeter and fills them, after the
// user confirms. No dialog; the work runs on the click.
class clsAreaPerimeter : public VectorCommand {
public:
    clsAreaPerimeter();

protected:
    void clickWithoutDialog() override;
};

}  // namespace kv
