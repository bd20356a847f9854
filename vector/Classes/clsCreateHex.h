#pragma once
#include <string>

#include "vector/Classes/VectorCommand.h"

namespace kv {

// Make Hexagon Regions: covers the extent of the layer selected in the table
// of contents with equal hexagons, built by the program `hex` beside the
// library, and adds the new hexagon layer to the map. No dialog; two prompts
// ask for the hexagon area (hectares) and the grid offset.
class clsCreateHex : public VectorCommand {
public:
    clsCreateHex();

    // Runs the builder on the input shapefile. Returns the new shapefile's
    // path, or "" when nothing was made (the user has been told why).
    std::string CreateHex(const std::string& inputShapefile, const std::string& area, const std::string& offset);
    // folder/base.ext, or folder/baseN.ext with the first free N from 2 on;
    // "" (after a message) when the folder does not exist.
    std::string MakeFileName(const std::string& folder, const std::string& base, const std::string& extension);

protected:
    void clickWithoutDialog() override;
};

// Whether an answer to a prompt reads as a number: blanks around it, an
// optional sign, digits with at most one decimal point, an optional exponent.
bool IsNumericAnswer(const std::string& text);

// The builder's path for the input shapefile: in double quotes, with every
// ".S" written as "_Z" when the path has one, otherwise every ".s".
std::string HexInputArgument(const std::string& inputShapefile);

}  // namespace kv
