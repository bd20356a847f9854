#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// Intersect Polygons: opens the host's Intersect tool dialog as it comes.
// Nothing follows the dialog.
class clsIntersect : public VectorCommand {
public:
    clsIntersect();

protected:
    void clickWithoutDialog() override;
};

}  // namespace kv
