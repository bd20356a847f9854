#include "vector/Classes/clsSpatialStats.h"

#include "vector/Forms/frmSpatialStat.h"

namespace kv {

clsSpatialStats::clsSpatialStats()
    : VectorCommand("Classes/clsSpatialStats", "spatial_Statistics", "Spatial Statistics", EnabledRule::OneLayer,
                    ClickSteps{.layerCheck = true, .hookCheck = true, .mapUnits = true}) {}

std::unique_ptr<KorvaneForm> clsSpatialStats::createDialog() { return std::make_unique<frmSpatialStat>(); }

}  // namespace kv
