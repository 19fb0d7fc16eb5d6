// Builds test activities: one inner list of points per segment.
#pragma once

#include <utility>
#include <vector>

#include "tramlix/model.hpp"

namespace tramlix::testing {

inline Activity track(std::vector<std::vector<TrackPoint>> segments) {
  Activity activity;
  for (auto& points : segments) activity.segments.push_back(Segment{std::move(points)});
  return activity;
}

inline ActivityFile file_of(std::vector<Activity> activities) {
  ActivityFile file;
  file.activities = std::move(activities);
  return file;
}

}  // namespace tramlix::testing
