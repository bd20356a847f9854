#include "vector/Forms/frmMultiLineDisplay.h"

#include <algorithm>

#include "shared/ErrorHandling.h"

KV_MODULE("Forms/frmMultiLineDisplay");

namespace kv {

namespace h = korvane::host;

void frmMultiLineDisplay::design() {
    setCaption("multiLineDisplay");
    borderSizable = true;
    width = 7230;
    height = 5520;
    auto& txt = add<h::TextBox>("txtDisplay");
    txt.multiLine = true;
    auto& close = add<h::CommandButton>("cmdClose");
    close.setCaption("Close");
    close.width = 1095;
    close.height = 375;
    close.isCancel = true;
    close.onClick = [this] { cmdClose_Click(); };
    Form_Resize();
}

void frmMultiLineDisplay::Form_Resize() {
    KV_PROCEDURE("Form_Resize", TopLevel).run([&] {
        KV_LINE;
        auto& close = get<h::CommandButton>("cmdClose");
        auto& txt = get<h::TextBox>("txtDisplay");
        KV_LINE;
        close.top = height - 555 - close.height;
        close.left = width - 285 - close.width;
        KV_LINE;
        txt.top = 150;
        txt.left = 120;
        // A window made smaller than its margins leaves the box empty rather
        // than of negative size.
        txt.height = std::max(0, height - 150 - 555);
        txt.width = std::max(0, close.left - txt.left - 195);
    });
}

void frmMultiLineDisplay::cmdClose_Click() {
    KV_PROCEDURE("cmdClose_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

}  // namespace kv
