// The activity model as Arrow tables (see arrow.hpp), ready for data-frame libraries.
#pragma once

#include "tramlix/arrow.hpp"
#include "tramlix/model.hpp"

namespace tramlix {

// One row per point, in file order: activity, segment (indices from 0), time, latitude,
// longitude, elevation_m, distance_m, heart_rate_bpm, cadence_rpm, power_watts, speed_mps,
// temperature_c. A value the model lacks is null; each measured column carries its unit in
// the field metadata under "unit". Times are nanoseconds since 1970 in UTC; one outside the
// years 1677 to 2262, which 64-bit nanoseconds cannot hold, is null.
const arrow::Schema& point_schema();
arrow::Table point_table(const ActivityFile& file);
// The points of one activity; its activity column is 0.
arrow::Table point_table(const Activity& activity);

}  // namespace tramlix
