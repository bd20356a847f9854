#include "vector/Modules/modSimpleInput.h"

#include "host/Failure.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "shared/modSimpleInput.h"

KV_MODULE("Modules/modSimpleInput");

namespace kv {

namespace h = korvane::host;

std::vector<std::string> MultiChoiceListInput(const std::string& prompt, const std::vector<std::string>& items,
                                              const std::string& title, bool) {
    std::vector<std::string> result;
    KV_PROCEDURE("MultiChoiceListInput", TopLevel).run([&] {
        KV_LINE;
        frmMultiSelectBox dlg;
        KV_LINE;
        auto* list = dynamic_cast<h::ListBox*>(ShowListDialog(dlg, prompt, items, title));
        // Cancel, or the dialog closed, gives the empty result, whatever is still selected.
        KV_LINE;
        if (!list || dlg.cancelled() || list->selCount() == 0) return;
        KV_LINE;
        for (int32_t i = 0; i < list->listCount(); ++i)
            if (list->selected(i)) result.push_back(list->list(i));
    });
    return result;
}

}  // namespace kv
