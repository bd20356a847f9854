#include "vector/Classes/clsAboutKorvane.h"

#include "vector/Forms/frmAbout.h"

namespace kv {

clsAboutKorvane::clsAboutKorvane()
    : VectorCommand("Classes/clsAboutKorvane", "About_Korvane", "About Korvane", EnabledRule::Always) {}

std::unique_ptr<KorvaneForm> clsAboutKorvane::createDialog() { return std::make_unique<frmAbout>(); }

}  // namespace kv
