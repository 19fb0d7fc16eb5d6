// What every format reader does with what it has read, whatever the format.
#pragma once

#include <utility>
#include <vector>

#include "tramlix/model.hpp"

namespace tramlix {

// An activity as the readers hand it over: one without a start time of its own starts with
// its first timed point.
inline void settle_start_time(Activity& activity) {
  activity.start_time = activity.effective_start_time();
}

// The file a reader returns for its activities. Its creator is "tramlix", whatever the file
// says: the model is what this library made of it.
inline ActivityFile read_result(std::vector<Activity> activities) {
  ActivityFile file;
  file.activities = std::move(activities);
  file.creator = "tramlix";
  return file;
}

}  // namespace tramlix
