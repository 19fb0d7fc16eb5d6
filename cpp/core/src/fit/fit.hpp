// FIT activity files: typed FIT messages onto the activity model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "fit/value.hpp"
#include "tramlix/error.hpp"
#include "tramlix/model.hpp"

namespace tramlix::fit {

// Reads a FIT file (chained files included); failures are InvalidData labelled "FIT".
std::expected<ActivityFile, Error> read(std::span<const std::uint8_t> bytes);

// Maps decoded messages, in file order, onto one activity file. Records become points, each
// session closes the activity they belong to, and file_id and device_info fill one DeviceInfo;
// every other message is ignored. A field holding FIT's invalid marker counts as not carried,
// while a value of the wrong kind clears its target.
class ActivityMapper {
 public:
  // Room for this many points up front: growing a large point list costs more than mapping it.
  explicit ActivityMapper(std::size_t expected_points = 0) { points_.reserve(expected_points); }

  void add(const ::fit::Message& message);

  // The mapped file; "no record messages found" when no activity holds a point.
  std::expected<ActivityFile, Error> finish() &&;

 private:
  void add_record(const ::fit::Message& message);
  void add_session(const ::fit::Message& message);
  void add_device(const ::fit::Message& message);
  void finish_activity();

  std::vector<Activity> finished_;
  Activity current_;
  std::vector<TrackPoint> points_;
  DeviceInfo device_;
  bool device_seen_ = false;
};

}  // namespace tramlix::fit
