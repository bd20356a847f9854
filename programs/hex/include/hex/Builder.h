#pragma once
// The hexagon builder's job: read the input shapefile's extent, cover it
// with hexagons of the requested area and write them as a new shapefile,
// then write the log whose first character is the result code.
//
// Command line (as the vector library writes it, each path in double quotes):
//   hex INPUT OUTPUT LOG AREA OFFSET
//   INPUT   the input shapefile; the library hands it over with ".s" (or
//           ".S") written as "_Z", which is undone here (see inputCandidates)
//   OUTPUT  the output shapefile without ".shp"; OUTPUT.shp, .shx and .dbf
//           are created and must not exist yet; the input's .prj is copied
//   LOG     the log file, replaced if present
//   AREA    the area of one hexagon in hectares; map units are taken to be
//           metres unless the input's coordinate system names other linear
//           units, which are then converted
//   OFFSET  the shift of the grid, a fraction of the pattern's repeat (see
//           hex/Tessellation.h); only its fractional part counts
#include <string>
#include <vector>

#include "hex/Tessellation.h"

namespace hex {

// A number as typed: blanks around it are allowed, nothing else.
bool parseNumber(const std::string& text, double* value);

// The paths that the input argument may stand for, most likely first: each
// "_Z" may be ".s", ".S" or itself. The first that exists is the input.
std::vector<std::string> inputCandidates(const std::string& argument);

struct Outcome {
    Code code;
    std::string detail;   // one line for the log after the code
};

// The whole job, without the log.
Outcome build(const std::string& inputArgument, const std::string& outputBase, double hectares, double offset);

// main(): parses the five arguments, builds, writes the log. Returns the
// program's exit code (0 on success).
int runCommandLine(const std::vector<std::string>& args);

}  // namespace hex
