// The wording shared by the texts that recover() gives about damaged files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tramlix {

// A count grouped by thousands, as people read it: "5,210".
inline std::string grouped(std::size_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

// "1 record", "5,210 records".
inline std::string counted(std::size_t n, std::string_view one, std::string_view many) {
  return grouped(n).append(" ").append(n == 1 ? one : many);
}

}  // namespace tramlix
