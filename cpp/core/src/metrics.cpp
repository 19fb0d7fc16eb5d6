#include "tramlix/model.hpp"

namespace tramlix {

std::optional<UtcInstant> Activity::effective_start_time() const { return start_time; }  // TODO
std::optional<UtcInstant> Activity::end_time() const { return {}; }
std::optional<double> Activity::duration_seconds() const { return {}; }
double Activity::distance_meters() const { return -0.0; }
std::optional<double> Activity::average_heart_rate() const { return {}; }
ElevationGain Activity::elevation_gain() const { return {}; }
std::optional<Bounds> Activity::bounds() const { return {}; }

}  // namespace tramlix
