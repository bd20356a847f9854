#include "raster/Forms/frmSaveDir.h"

#include <filesystem>

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Forms/frmSaveDir");

namespace kv {

namespace h = korvane::host;

void frmSaveDir::design() {
    setCaption("Select Directory");
    width = 4815;
    height = 3630;
    auto& drive = add<h::DriveListBox>("Drive1");
    drive.move(120, 120, 3015, 315);
    auto& dir = add<h::DirListBox>("Dir1");
    dir.move(120, 540, 3015, 2790);
    // The lists start at the current folder of the process.
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    if (!ec && !cwd.empty()) dir.setPath(cwd);
    auto& ok = add<h::CommandButton>("OKButton");
    ok.setCaption("OK");
    ok.move(3360, 120, 1215, 375);
    ok.isDefault = true;
    auto& cancel = add<h::CommandButton>("CancelButton");
    cancel.setCaption("Cancel");
    cancel.move(3360, 600, 1215, 375);
    cancel.isCancel = true;
    auto& dlg = add<h::CommonDialog>("cmnDlg");
    dlg.setVisible(false);
    dlg.tabStop = false;
    strSaveDir.clear();
    ok.onClick = [this] { OKButton_Click(); };
    cancel.onClick = [this] { CancelButton_Click(); };
    drive.onChange = [this] { Drive1_Change(); };
}

void frmSaveDir::OKButton_Click() {
    KV_PROCEDURE("OKButton_Click", TopLevel).run([&] {
        KV_LINE;
        auto& dir = get<h::DirListBox>("Dir1");
        strSaveDir = dir.list(dir.listIndex());
        KV_LINE;
        hide();
    });
}

void frmSaveDir::CancelButton_Click() {
    KV_PROCEDURE("CancelButton_Click", TopLevel).run([&] {
        KV_LINE;
        strSaveDir.clear();
        KV_LINE;
        hide();
    });
}

// Another drive: the folder list opens it; an unavailable drive is reported
// and the drive list goes back to the open folder's drive. On this system
// there is one drive, "/", the start of every absolute path.
void frmSaveDir::Drive1_Change() {
    auto& drive = get<h::DriveListBox>("Drive1");
    auto& dir = get<h::DirListBox>("Dir1");
    std::string picked = drive.drive();
    try {
        if (dir.path().rfind(picked, 0) == 0) return;   // the open folder is on that drive
        dir.setPath(picked);
    } catch (const h::Failure& f) {
        if (f.number() != 76 && f.number() != 68) return;
        MsgBox(picked + " is not available.", h::mb::Exclamation, "Cannot Change Drive");
        std::string back = dir.path().substr(0, dir.path().find('/') + 1);
        if (back.empty()) return;   // a path without a drive: both lists stay
        // Setting the drive back raises Change again, which finds the open folder on it.
        drive.setDrive(back);
    }
}

}  // namespace kv
