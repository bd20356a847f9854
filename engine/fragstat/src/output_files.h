#pragma once
// Putting the output files in place without ever losing what they held.
#include <filesystem>
#include <string>
#include <vector>

namespace korvane::fragstat::detail {

struct OutputFile {
    std::filesystem::path path;
    std::string header;
    std::vector<std::string> lines;
};

// Appends each file's lines to what it holds (with the header when it does
// not start with it) and puts every file in place, or none: see output_files.cpp.
void write_all(const std::vector<OutputFile>& files);  // throws InputError

}  // namespace korvane::fragstat::detail
