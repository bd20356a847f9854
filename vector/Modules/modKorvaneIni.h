#pragma once
// The configuration file Korvane.ini beside the vector library: its one
// setting is the location of the batch file, held in the line that follows
// the section line "[KorvaneBatch]". The library only reads it here; it
// never creates it.
#include <string>
#include <vector>

namespace kv {

// The text without its leading and trailing blanks and tabs, as the
// stored settings and batch lines are read.
std::string TrimBlanks(const std::string& s);

// The file's full path: the library's folder and "/Korvane.ini".
std::string KorvaneIniPath();

// True when the configuration file exists. Otherwise shows
// "'<folder>/Korvane.ini' could not be found.  Cannot continue." (title
// "Missing system file") and returns false.
bool KorvaneIniExists();

// What the configuration file says about the batch file.
struct BatchLocation {
    // The text after the first "=" of the line that follows the last section
    // line, trimmed of blanks (the whole line, trimmed, when it has no "=").
    // Empty without a section line.
    std::string location;
    // The last section line is the file's last line: there is no location
    // line at all.
    bool sectionIsLastLine = false;
};

// The reading rule applied to the file's lines (without their line ends).
// A section line is exactly "[KorvaneBatch]": whole line, letter case as
// written, nothing trimmed.
BatchLocation BatchLocationFromLines(const std::vector<std::string>& lines);

// Reads the file at iniPath. A file that exists but cannot be read gives an
// empty location.
BatchLocation ReadBatchLocation(const std::string& iniPath);

}  // namespace kv

namespace kv {

// The file's lines with the batch-file location stored: the line after
// every section line becomes "Location=" + location; a section line that is
// the last line gets the location line appended after it. Every other line
// is kept, in order and unchanged. Lines without a section line come back
// unchanged.
std::vector<std::string> LinesWithBatchLocation(const std::vector<std::string>& lines, const std::string& location);

// Rewrites the file at iniPath with the location stored, every line ended
// by CR LF. The new content goes to a temporary file beside it that then
// replaces the file, so that a failure half-way leaves the old file whole.
// A read-only file is refused (a failure to the caller) and left as it was.
void WriteBatchLocation(const std::string& iniPath, const std::string& location);

}  // namespace kv

namespace kv {

// The batch file that the build names in the shipped Korvane.ini (in the
// user's data folder). The build does not create its folder.
std::string DefaultBatchFile();

// Called before a batch line is written to location: when location is the
// default batch file (defaultFile) and its folder is missing, the folder is
// made, so that the first Add to Batch works on a fresh installation. Any
// other location is left alone; a missing folder there stays the user's to
// fix. A folder that cannot be made is left missing.
void MakeDefaultBatchFolder(const std::string& location, const std::string& defaultFile = DefaultBatchFile());

}  // namespace kv
