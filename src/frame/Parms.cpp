#include "frame/Parms.h"

#include <charconv>

namespace cavitas {

void GetStringOption(const std::vector<std::string>& params, const std::string& name, std::string& value,
                     bool& found) {
  found = false;
  if (name.empty()) return;
  for (const std::string& p : params) {
    if (p.size() > name.size() + 1 && p.compare(0, name.size(), name) == 0 && p[name.size()] == ':') {
      value = p.substr(name.size() + 1);
      found = true;
      return;
    }
  }
}

bool ParseDouble(const std::string& text, double& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  double v = 0;
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || ptr != last || first == last) return false;
  value = v;
  return true;
}

void GetNumberOption(const std::vector<std::string>& params, const std::string& name, double& value,
                     bool& found) {
  std::string text;
  GetStringOption(params, name, text, found);
  if (found && !ParseDouble(text, value)) found = false;
}

}  // namespace cavitas
