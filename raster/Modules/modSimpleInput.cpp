#include "raster/Modules/modSimpleInput.h"

#include "host/Forms.h"
#include "host/System.h"
#include "host/Ui.h"
#include "raster/Forms/frmSaveDir.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

KV_MODULE("Modules/modSimpleInput");

namespace kv {

namespace h = korvane::host;

std::string GetDirectory(const std::string& caption) {
    std::string result;
    frmSaveDir form;
    KV_PROCEDURE("GetDirectory", TopLevel).run([&] {
        KV_LINE;
        form.load();
        if (!caption.empty()) form.setCaption(caption);
        KV_LINE;
        ShowForm(form, true);
        KV_LINE;
        result = form.strSaveDir;
    });
    form.unload();
    return result;
}

std::string GetSaveLocation() {
    std::string result;
    frmSaveDir form;
    KV_PROCEDURE("GetSaveLocation", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = form.get<h::CommonDialog>("cmnDlg");
        dlg.flags = h::CommonDialog::OverwritePrompt;
        dlg.filter = "Grids |*.";
        KV_LINE;
        if (dlg.showSave()) result = dlg.fileName;
        // The overwrite question that the dialog's flag asks for, put here
        // because the host's file chooser hands back any name; it is asked
        // for a GRID folder as for a file, since replacing either loses a
        // dataset. Yes is the default, so a script that does not answer
        // replaces it as it always did; No leaves it and saves nothing.
        KV_LINE;
        if (!MayReplace(result, true)) result.clear();
    });
    form.unload();
    return result;
}

}  // namespace kv
