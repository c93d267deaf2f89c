#pragma once
// Progress of the running stage. No observer is attached in this console
// program; the record is kept because stages report their position into it
// (each analysis has its own, in its TRunContext).
#include <cstdint>
#include <functional>
#include <string>

namespace cavitas {

struct TStatus {
  std::function<void(TStatus&)> OnChange;
  std::string StageName;
  std::int32_t Position = 0;
  std::int32_t Total = 0;

  void SetPosition(std::int32_t value) {
    Position = value;
    if (OnChange) OnChange(*this);
  }
};

}  // namespace cavitas
