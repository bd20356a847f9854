#include "vector/Forms/frmAbout.h"

namespace kv {

frmAbout::frmAbout() : AboutForm("frmAbout", {"Forms/frmAbout", "About Korvane", "Korvane", kCredits}) {}

}  // namespace kv
