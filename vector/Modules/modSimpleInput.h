#pragma once
#include <string>
#include <vector>

namespace kv {

// Asks for any number of entries of items; the selected entries in list
// order, or an empty list when none is selected or the user cancels.
std::vector<std::string> MultiChoiceListInput(const std::string& prompt, const std::vector<std::string>& items,
                                              const std::string& title, bool unused = false);

}  // namespace kv
