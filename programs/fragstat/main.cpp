// fragstat: raster landscape metrics of a class grid (see usage_text()).
#include <iostream>
#include <string>
#include <vector>

#include "fragstat/fragstat.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return korvane::fragstat::run(args, std::cout, std::cerr);
}
