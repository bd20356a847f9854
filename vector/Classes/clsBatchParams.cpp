#include "vector/Classes/clsBatchParams.h"

#include "vector/Forms/frmBatch.h"

namespace kv {

// The click sets the map units, makes the host's window the dialog's owner
// and shows it modeless; it needs neither layers nor a checked hook.
clsBatchParams::clsBatchParams()
    : VectorCommand("Classes/clsBatchParams", "Batch_processing", "Set and Run Batch Processes", EnabledRule::Always,
                    ClickSteps{.mapUnits = true}) {}

std::unique_ptr<KorvaneForm> clsBatchParams::createDialog() { return std::make_unique<frmBatch>(); }

}  // namespace kv
