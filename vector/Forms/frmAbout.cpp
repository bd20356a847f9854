#include "vector/Forms/frmAbout.h"

#include "shared/App.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Forms/frmAbout");

namespace kv {

namespace h = korvane::host;

const char* const frmAbout::kCredits =
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

void frmAbout::design() {
    setCaption("About Korvane");
    width = 6255;
    height = 4590;
    auto& txt = add<h::TextBox>("txtAbout");
    txt.move(120, 120, 5895, 3255);
    txt.multiLine = true;
    txt.locked = true;
    txt.setText(kCredits);
    auto& ok = add<h::CommandButton>("cmdOK");
    ok.setCaption("OK");
    ok.move(4800, 3600, 1215, 375);
    ok.isDefault = true;
    ok.isCancel = true;
    ok.onClick = [this] { cmdOK_Click(); };
}

void frmAbout::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
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
        txt.setText("Korvane " + App::Version() + "\r\n" + text);
    });
}

void frmAbout::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

}  // namespace kv
