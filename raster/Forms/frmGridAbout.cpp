#include "raster/Forms/frmGridAbout.h"

namespace kv {

frmGridAbout::frmGridAbout()
    : AboutForm("frmGridAbout", {"Forms/frmGridAbout", "About Korvane for Grids", "Korvane Grid", kCredits}) {}

}  // namespace kv
