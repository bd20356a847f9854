#pragma once
// Shared layer, field and form utilities.
#include "host/Forms.h"

namespace kv {

// Shows a dialog; modal false shows it modeless where the host allows
// modeless windows, and modally otherwise.
void ShowForm(korvane::host::Form& form, bool modal);

}  // namespace kv

namespace korvane::host { class Application; }

namespace kv {
// Gives the focused map metres as map units and kilometres as distance
// units when its units are unknown.
void CheckAndSetMapUnits(korvane::host::Application* app);
}  // namespace kv
