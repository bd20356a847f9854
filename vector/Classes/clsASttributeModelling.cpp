#include "vector/Classes/clsASttributeModelling.h"

#include "vector/Forms/frmAttributeModelling.h"

namespace kv {

// The click settles the map units first, then refuses an empty map.
clsAttributeModelling::clsAttributeModelling()
    : VectorCommand("Classes/clsASttributeModelling", "attribute_modelling", "Attribute Modelling",
                    EnabledRule::LayerSelected, ClickSteps{.mapUnits = true, .layerCheckAfterUnits = true}) {}

std::unique_ptr<KorvaneForm> clsAttributeModelling::createDialog() { return std::make_unique<frmAttributeModelling>(); }

}  // namespace kv
