#pragma once
// The Batch Processing dialog: where the batch file is, another file chosen,
// its lines viewed or emptied, and the batch run that replays every saved
// Spatial Statistics and core-area line through the dialogs' run methods.
#include <string>
#include <vector>

#include "host/Application.h"
#include "shared/KorvaneForm.h"

namespace kv {

// One line of the batch file as the runner reads it.
struct BatchLineParts {
    // The text up to the first blank, trimmed; empty for a line without a
    // blank or beginning with one.
    std::string command;
    // The arguments after the first blank, each trimmed. An argument that is
    // the bracketed list is marked in isList and holds the list's raw text.
    std::vector<std::string> args;
    std::vector<bool> isList;
    // The items between the first "[" and the first "]", split at ","
    // and not trimmed; empty when the line has no "[".
    std::vector<std::string> list;
};

// Splits a line. A "[" without a later "]" is a failure (the line cannot be
// read), whatever the command word.
BatchLineParts ParseBatchLine(const std::string& line);

// The text-to-flag conversion of a stored value: true and false in any
// letter case, or a number (0 false, any other true). Anything else fails.
bool BatchFlag(const std::string& value);
// A stored number, such as a buffer size ("50", "12.5"). Anything else fails.
double BatchNumber(const std::string& value);

// Replays the batch file at location on the host application app: every
// RunSpatialStats and CreateCores line in file order, each on a fresh dialog
// that is never shown; other lines are skipped. A line that cannot be read
// or a failure of a run is raised to the caller, and the lines after it are
// not run. A missing file is reported to the user.
void RunBatchFile(korvane::host::Application* app, const std::string& location);

class frmBatch : public KorvaneForm {
public:
    frmBatch() : KorvaneForm("frmBatch") {}

    // The location read from the configuration file; empty when the file
    // is missing (after its message) or names none.
    std::string GetKorvaneBatchFromINI();
    // Stores the text of txtBatchFileName as the location in the
    // configuration file, keeping its other lines.
    void SetKorvaneBatchInINI();

    // The batch file the dialog acts on.
    const std::string& BatchFileName() const { return location_; }

protected:
    void design() override;
    void Form_Load() override;

private:
    void cmdChangeFile_Click();
    void cmdClearFile_Click();
    void cmdView_Click();
    void cmdRun_Click();

    std::string location_;
};

}  // namespace kv
