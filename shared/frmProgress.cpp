#include "shared/frmProgress.h"

#include <cmath>

#include "shared/ErrorHandling.h"

KV_MODULE("Forms/frmProgress");

namespace kv {

namespace h = korvane::host;

void frmProgress::design() {
    setCaption("Processing Progress");
    width = 4800;
    height = 1425;
    auto& bar = add<h::ProgressBar>("progBar");
    bar.move(120, 480, 4455, 375);
    auto& label = add<h::Label>("lblProgress");
    label.move(120, 120, 4455, 255);
    label.setCaption("Process Progess");
}

void frmProgress::setMax(int32_t max) {
    KV_PROCEDURE("Max", TopLevel).run([&] {
        KV_LINE;
        progBar().setMax(static_cast<float>(max));
    });
}

void frmProgress::setValue(int32_t value) {
    KV_PROCEDURE("Value", TopLevel).run([&] {
        KV_LINE;
        progBar().setValue(static_cast<float>(value));
        KV_LINE;
        refresh();
    });
}

int32_t frmProgress::Value() {
    int32_t result = 0;
    KV_PROCEDURE("Value", TopLevel).run([&] {
        KV_LINE;
        result = static_cast<int32_t>(std::lround(progBar().value()));
    });
    return result;
}

}  // namespace kv
