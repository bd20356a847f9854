#include "shared/modMisc.h"

#include "host/Application.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Modules/modMisc");

namespace kv {

void ShowForm(korvane::host::Form& form, bool modal) {
    KV_PROCEDURE("ShowForm", TopLevel).run([&] {
        KV_LINE;
        if (modal) {
            KV_LINE;
            form.show(true);
        } else if (korvane::host::Application::instance().modelessAllowed) {
            KV_LINE;
            form.show(false);
        } else {
            KV_LINE;
            form.show(true);
        }
    });
}

}  // namespace kv

#include "host/Failure.h"
#include "host/Ui.h"
#include "shared/App.h"

namespace kv {

void CheckAndSetMapUnits(korvane::host::Application* app) {
    namespace h = korvane::host;
    KV_PROCEDURE("CheckAndSetMapUnits", TopLevel).run([&] {
        KV_LINE;
        if (!app) h::fail(h::err::ObjectNotSet, "Korvane", "Object variable or With block variable not set");
        KV_LINE;
        h::MapPtr map = app->document()->focusMap();
        KV_LINE;
        if (map->mapUnits() == h::UnitUnknown) {
            KV_LINE;
            MsgBox("Map Units are unknown.\r\nSetting map units to metres.\r\nSetting distance units to kilometres.",
                   h::mb::Information, "Setting Map Units");
            KV_LINE;
            map->setMapUnits(h::UnitMeters);
            KV_LINE;
            map->setDistanceUnits(h::UnitKilometers);
        }
    });
}

}  // namespace kv
