#include "vector/Classes/clsCreateCores.h"

#include "vector/Forms/frmCores.h"

namespace kv {

// The click sets the map units, makes the host's window the dialog's owner
// and shows it; Enabled keeps it from an empty map.
clsCreateCores::clsCreateCores()
    : VectorCommand("Classes/clsCreateCores", "Create_cores", "Create core areas", EnabledRule::OneLayer,
                    ClickSteps{.mapUnits = true}) {}

std::unique_ptr<KorvaneForm> clsCreateCores::createDialog() { return std::make_unique<frmCores>(); }

}  // namespace kv
