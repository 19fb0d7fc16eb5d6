// Climb and descent through a hysteresis filter.
#include <cmath>
#include <optional>

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

// Follows one segment's elevations. Until the first leg is known the lowest and highest
// elevation so far are kept; a move of at least the threshold away from one of them starts a
// leg there. A leg then runs on while the elevation keeps going its way (`extreme` is its
// farthest point) and ends when the elevation comes back by at least the threshold from that
// extreme: the extreme is a turning point, the leg counts whole, and the next leg starts there.
class Hysteresis {
 public:
  explicit Hysteresis(double threshold) : threshold_(threshold) {}

  void add(double elevation) {
    switch (direction_) {
      case Direction::None:
        if (!seen_) {
          seen_ = true;
          low_ = high_ = elevation;
          return;
        }
        if (elevation > high_) high_ = elevation;
        if (elevation < low_) low_ = elevation;
        // Only the value just added can have opened the range up to the threshold.
        if (elevation == high_ && high_ - low_ >= threshold_) {
          start(Direction::Up, low_, elevation);
        } else if (elevation == low_ && high_ - low_ >= threshold_) {
          start(Direction::Down, high_, elevation);
        }
        return;
      case Direction::Up:
        if (elevation >= extreme_) {
          extreme_ = elevation;
        } else if (extreme_ - elevation >= threshold_) {
          finish();
          start(Direction::Down, extreme_, elevation);
        }
        return;
      case Direction::Down:
        if (elevation <= extreme_) {
          extreme_ = elevation;
        } else if (elevation - extreme_ >= threshold_) {
          finish();
          start(Direction::Up, extreme_, elevation);
        }
        return;
    }
  }

  // The leg under way counts: it reached the threshold when it started.
  ElevationGain result() {
    finish();
    direction_ = Direction::None;
    return gain_;
  }

 private:
  enum class Direction { None, Up, Down };

  void start(Direction direction, double from, double to) {
    direction_ = direction;
    turning_point_ = from;
    extreme_ = to;
  }

  void finish() {
    if (direction_ == Direction::Up) gain_.uphill_meters += extreme_ - turning_point_;
    if (direction_ == Direction::Down) gain_.downhill_meters += turning_point_ - extreme_;
  }

  double threshold_;
  Direction direction_ = Direction::None;
  bool seen_ = false;
  double low_ = 0.0;
  double high_ = 0.0;
  double turning_point_ = 0.0;
  double extreme_ = 0.0;
  ElevationGain gain_;
};

}  // namespace

ElevationGain filtered_elevation_gain(const Activity& activity, double threshold_m) {
  const double threshold = threshold_m > 0.0 ? threshold_m : 0.0;  // NaN counts as 0 too
  ElevationGain total;
  for (const Segment& segment : activity.segments) {
    Hysteresis filter(threshold);
    for (const TrackPoint& point : segment.points) {
      if (const std::optional<double> elevation = analysis::value_of<Channel::Elevation>(point)) {
        filter.add(*elevation);
      }
    }
    const ElevationGain gain = filter.result();
    total.uphill_meters += gain.uphill_meters;
    total.downhill_meters += gain.downhill_meters;
  }
  return total;
}

}  // namespace tramlix
