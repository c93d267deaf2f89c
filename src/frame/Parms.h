#pragma once
// Options are name:value parameters without a dash; names are case-sensitive
// and the first matching parameter wins.
#include <string>
#include <vector>

namespace cavitas {

// params excludes the program path. Without a match Value keeps its content.
void GetStringOption(const std::vector<std::string>& params, const std::string& name, std::string& value,
                     bool& found);
// Converts with "." as separator; a text that does not convert makes found false.
void GetNumberOption(const std::vector<std::string>& params, const std::string& name, double& value,
                     bool& found);
// Strict locale-independent conversion of a whole text (no surrounding junk).
bool ParseDouble(const std::string& text, double& value);

}  // namespace cavitas
