// hex: covers the extent of a shapefile with equal regular hexagons.
// See hex/Builder.h for the command line.
#include <string>
#include <vector>

#include "hex/Builder.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return hex::runCommandLine(args);
}
