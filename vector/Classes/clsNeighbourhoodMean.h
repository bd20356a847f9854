#pragma once
#include "vector/Classes/VectorCommand.h"

namespace kv {

// The display name of a host map-unit code (empty for unknown codes).
std::string MapUnitName(int32_t code);

// Neighbourhood mean: gives every polygon of the selected layer (its
// selected polygons, when some are) the mean of a field over the polygons
// whose centroids lie within a distance of its own. No dialog; prompts.
class clsNeighbourhoodMean : public VectorCommand {
public:
    clsNeighbourhoodMean();

protected:
    void clickWithoutDialog() override;
};

}  // namespace kv
