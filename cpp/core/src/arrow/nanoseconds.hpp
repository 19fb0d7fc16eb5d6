// Instants as the Arrow timestamp columns of the tables hold them.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "tramlix/time.hpp"

namespace tramlix {

// Nanoseconds since 1970 in UTC. 64 bits cover 1677-09-21 to 2262-04-11; an instant outside has
// none. A leap second counts into the next second, as POSIX time does.
inline std::optional<std::int64_t> unix_nanoseconds(UtcInstant instant) {
  constexpr std::int64_t kBillion = 1'000'000'000;
  const __int128 nanoseconds =
      static_cast<__int128>(instant.seconds) * kBillion + instant.nanoseconds;
  if (nanoseconds < std::numeric_limits<std::int64_t>::min() ||
      nanoseconds > std::numeric_limits<std::int64_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(nanoseconds);
}

inline std::optional<std::int64_t> unix_nanoseconds(const std::optional<UtcInstant>& instant) {
  return instant ? unix_nanoseconds(*instant) : std::nullopt;
}

}  // namespace tramlix
