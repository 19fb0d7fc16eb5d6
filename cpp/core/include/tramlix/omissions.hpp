// What the writers leave out: points and values their format cannot carry, counted by reason.
//
// Every writer produces a document its format's schema accepts for any model, so it leaves out
// what would break it (a GPX point without a position, a TCX point without a time, a NaN, a heart
// rate of 300) instead of writing it. The writers count what they leave out into an `Omissions`
// when given one; nothing is printed. What a format leaves out by design (GPX carries no device
// information, TCX no summary) is not counted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "tramlix/error.hpp"
#include "tramlix/format.hpp"
#include "tramlix/model.hpp"

namespace tramlix {

enum class Omission : std::uint8_t {
  // Whole points.
  PointWithoutPosition,  // GPX: no latitude and longitude in range
  PointWithoutTime,      // TCX: no time, or one xsd:dateTime cannot carry
  // Single values of points that are written, of activities and of the device.
  NotFinite,           // NaN or an infinity
  OutOfRange,          // outside what the format's field holds (a heart rate of 0 in TCX)
  IncompletePosition,  // TCX: a coordinate whose partner is missing
  UnknownName,         // FIT: a sport, manufacturer or product the FIT profile has no code for
  UntimedActivity,     // FIT: name, sport and totals of an activity without start and end
  Shortened,           // FIT: texts cut to the 254 bytes a string field holds
};

inline constexpr std::size_t kOmissionCount = 8;

// The reason as a lower_snake_case name, "points_without_position", ... "texts_shortened".
std::string_view omission_name(Omission reason);

// Counts by reason.
struct Omissions {
  std::array<std::size_t, kOmissionCount> counts{};

  void add(Omission reason, std::size_t n = 1) { counts[static_cast<std::size_t>(reason)] += n; }
  std::size_t operator[](Omission reason) const { return counts[static_cast<std::size_t>(reason)]; }
  bool empty() const {
    for (const std::size_t n : counts) {
      if (n != 0) return false;
    }
    return true;
  }

  bool operator==(const Omissions&) const = default;
};

// What writing `file` as `format` leaves out, by the writer's own rules (it writes the document
// and throws it away). Fails only where writing would.
std::expected<Omissions, Error> omissions(const ActivityFile& file, Format format);

}  // namespace tramlix
