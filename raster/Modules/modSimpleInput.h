#pragma once
// The raster library's folder and save-location choosers.
#include <string>

namespace kv {

// Asks for a folder in "Select Directory" (or the caption, when given);
// the folder chosen, or "" after Cancel.
std::string GetDirectory(const std::string& caption);

// Asks for an output grid's full path in the save dialog (filter
// "Grids |*.", asking before an existing file is overwritten); the path as
// typed or chosen, or "" after Cancel.
std::string GetSaveLocation();

}  // namespace kv
