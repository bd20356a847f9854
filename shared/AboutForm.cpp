#include "shared/AboutForm.h"

#include "shared/App.h"
#include "shared/ErrorHandling.h"

namespace kv {

namespace h = korvane::host;

const char* const AboutForm::kCredits =
    "Released December 2026.\r\n"
    "Developed for the Korvane host 9.3 and revised for the Korvane host on Linux.\r\n"
    "\r\n"
    "With thanks to the forest ecology and landscape planning groups whose field programmes\r\n"
    "supported this work, and to the analysts who tested its tools on their own maps.\r\n"
    "\r\n"
    "Project team: the Korvane developers.\r\n"
    "\r\n"
    "Please cite as: Korvane: landscape pattern analysis for polygon and raster maps.\r\n"
    "Version 4. Korvane developers, 2026.";

void AboutForm::design() {
    setCaption(texts_.caption);
    width = 6255;
    height = 4590;
    auto& txt = add<h::TextBox>("txtAbout");
    txt.move(120, 120, 5895, 3255);
    txt.multiLine = true;
    txt.locked = true;
    txt.setText(texts_.credits);
    auto& ok = add<h::CommandButton>("cmdOK");
    ok.setCaption("OK");
    ok.move(4800, 3600, 1215, 375);
    ok.isDefault = true;
    ok.isCancel = true;
    ok.onClick = [this] { cmdOK_Click(); };
}

void AboutForm::Form_Load() {
    Procedure kvProc_("Form_Load", texts_.modulePath, TopLevel);
    kvProc_.run([&] {
        KV_LINE;
        auto& txt = get<h::TextBox>("txtAbout");
        KV_LINE;
        std::string text = txt.text();
        const std::string from = "Version 4.";
        const std::string to = "Version " + std::to_string(App::Major()) + "." + std::to_string(App::Minor()) + ".";
        KV_LINE;
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        KV_LINE;
        txt.setText(std::string(texts_.product) + " " + App::Version() + "\r\n" + text);
    });
}

void AboutForm::cmdOK_Click() {
    Procedure kvProc_("cmdOK_Click", texts_.modulePath, TopLevel);
    kvProc_.run([&] {
        KV_LINE;
        unload();
    });
}

}  // namespace kv
