#include "raster/Forms/frmAnalParams.h"

#include "host/Forms.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Forms/frmAnalParams");

namespace kv {

namespace h = korvane::host;

void frmAnalParams::design() {
    setCaption("Set Fragstats Parameters");
    width = 5130;   // client area
    height = 2895;
    // Controls in the dialog's order; tab order as the user walks it.
    auto& l4 = add<h::Label>("Label4");
    auto& mpi = add<h::TextBox>("txtMPI");
    auto& l2 = add<h::Label>("Label2");
    auto& buffer = add<h::TextBox>("txtBufferDistance");
    auto& l1 = add<h::Label>("Label1");
    auto& infl = add<h::TextBox>("txtBoundaryInfl");
    auto& l5 = add<h::Label>("Label5");
    auto& l3 = add<h::Label>("Label3");
    auto& cwed = add<h::TextBox>("txtCWEDFilename");
    auto& ok = add<h::CommandButton>("cmdOK");
    auto& cancel = add<h::CommandButton>("cmdCancel");
    auto& dlg = add<h::CommonDialog>("cmnDlg");

    l4.setCaption("MPI Threshold");
    l4.move(120, 255, 1455, 255);
    l4.tabIndex = 7;
    mpi.setText("1000000");
    mpi.move(1680, 240, 1935, 285);
    mpi.tabIndex = 0;
    l2.setCaption("Buffer Distance");
    l2.move(120, 735, 1455, 255);
    l2.tabIndex = 5;
    buffer.move(1680, 720, 1935, 285);
    buffer.tabIndex = 3;
    l1.setCaption("Boundary Influence");
    l1.move(120, 1215, 1455, 255);
    l1.tabIndex = 4;
    infl.setText("1");
    infl.move(1680, 1200, 1935, 285);
    infl.tabIndex = 2;
    l5.setCaption("(0.0 - 1.0)");
    l5.move(3840, 1215, 735, 255);
    l5.tabIndex = 8;
    l3.setCaption("CWED file name");
    l3.move(120, 1695, 1455, 255);
    l3.tabIndex = 6;
    cwed.move(1680, 1680, 3255, 285);
    cwed.tabIndex = 1;
    ok.setCaption("OK");
    ok.move(1080, 2280, 1215, 375);
    ok.tabIndex = 9;
    cancel.setCaption("Cancel");
    cancel.move(2760, 2280, 1215, 375);
    cancel.tabIndex = 10;
    dlg.setVisible(false);
    dlg.tabStop = false;
    dlg.tabIndex = 11;

    ok.onClick = [this] { cmdOK_Click(); };
    cancel.onClick = [this] { cmdCancel_Click(); };
    cwed.onClick = [this] { txtCWEDFilename_Click(); };
}

bool frmAnalParams::CanUnload() {
    bool result = false;
    KV_PROCEDURE("CanUnload", TopLevel).run([&] {
        KV_LINE;
        result = canUnload_;
    });
    return result;
}

void frmAnalParams::setCanUnload(bool can) {
    KV_PROCEDURE("CanUnload", TopLevel).run([&] {
        KV_LINE;
        canUnload_ = can;
    });
}

std::array<std::string, 4> frmAnalParams::texts() {
    return {txtMPI().text(), txtBufferDistance().text(), txtBoundaryInfl().text(), txtCWEDFilename().text()};
}

void frmAnalParams::unloadWithOwner() {
    setCanUnload(true);
    unload();
}

void frmAnalParams::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        snapshot_ = texts();
        KV_LINE;
        canUnload_ = false;
    });
}

void frmAnalParams::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        hide();
    });
}

void frmAnalParams::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        txtMPI().setText(snapshot_[0]);
        txtBufferDistance().setText(snapshot_[1]);
        txtBoundaryInfl().setText(snapshot_[2]);
        txtCWEDFilename().setText(snapshot_[3]);
        KV_LINE;
        hide();
    });
}

void frmAnalParams::Form_Unload(int& cancel) {
    KV_PROCEDURE("Form_Unload", TopLevel).run([&] {
        KV_LINE;
        if (!canUnload_) cancel = 1;
    });
}

void frmAnalParams::txtCWEDFilename_Click() {
    KV_PROCEDURE("txtCWEDFilename_Click", TopLevel).run([&] {
        KV_LINE;
        auto& dlg = get<h::CommonDialog>("cmnDlg");
        dlg.filter = "CSV File|*.csv";
        KV_LINE;
        // A cancelled choice leaves the box as it was.
        if (dlg.showOpen()) txtCWEDFilename().setText(dlg.fileName);
    });
}

}  // namespace kv
