// Ramer-Douglas-Peucker thinning of each segment.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "geo.hpp"
#include "tramlix/model.hpp"

namespace tramlix {
namespace {

constexpr double kMetresPerDegreeLatitude = 110574.0;
constexpr double kMetresPerDegreeLongitudeAtEquator = 111320.0;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The chord from `start` to `end`, on a local plane in metres around `start`.
class Chord {
 public:
  Chord(const TrackPoint& start, const TrackPoint& end)
      : start_(start), positioned_(geo::has_position(start) && geo::has_position(end)) {
    if (!positioned_) return;
    const double mean_latitude = (*start.latitude + *end.latitude) / 2.0;
    metres_per_degree_longitude_ =
        kMetresPerDegreeLongitudeAtEquator * std::cos(mean_latitude * geo::kDegreesToRadians);
    dx_ = (*end.longitude - *start.longitude) * metres_per_degree_longitude_;
    dy_ = (*end.latitude - *start.latitude) * kMetresPerDegreeLatitude;
  }

  // Distance from `point` to the nearest point of the chord; a point the chord cannot be related
  // to (either lacks a position) is infinitely far, so it is always kept.
  double distance(const TrackPoint& point) const {
    if (!positioned_ || !geo::has_position(point)) return kInfinity;
    const double px = (*point.longitude - *start_.longitude) * metres_per_degree_longitude_;
    const double py = (*point.latitude - *start_.latitude) * kMetresPerDegreeLatitude;
    if (dx_ == 0.0 && dy_ == 0.0) return std::hypot(px, py);
    const double t = std::clamp((px * dx_ + py * dy_) / (dx_ * dx_ + dy_ * dy_), 0.0, 1.0);
    return std::hypot(px - t * dx_, py - t * dy_);
  }

 private:
  const TrackPoint& start_;
  bool positioned_;
  double metres_per_degree_longitude_ = 0.0;
  double dx_ = 0.0;
  double dy_ = 0.0;
};

// Scratch space reused across the segments of one call.
struct Workspace {
  std::vector<unsigned char> keep;
  std::vector<std::pair<std::size_t, std::size_t>> stack;
};

// An explicit stack rather than recursion: a segment of millions of points must not exhaust
// the call stack.
std::vector<TrackPoint> simplify_points(const std::vector<TrackPoint>& points, double tolerance,
                                        Workspace& work) {
  const std::size_t n = points.size();
  if (n < 3) return points;

  work.keep.assign(n, 0);
  work.keep.front() = 1;
  work.keep.back() = 1;
  work.stack.clear();
  work.stack.emplace_back(0, n - 1);

  while (!work.stack.empty()) {
    const auto [start, end] = work.stack.back();
    work.stack.pop_back();
    if (end <= start + 1) continue;

    const Chord chord(points[start], points[end]);
    // A NaN distance never wins, so -infinity lets the first comparable point take the lead.
    std::size_t farthest = start + 1;
    double farthest_distance = -kInfinity;
    for (std::size_t k = start + 1; k < end; ++k) {
      const double distance = chord.distance(points[k]);
      if (distance > farthest_distance) {
        farthest = k;
        farthest_distance = distance;
        // Nothing beats infinity; stopping here keeps unpositioned stretches linear, not quadratic.
        if (distance == kInfinity) break;
      }
    }
    if (farthest_distance >= tolerance) {
      work.keep[farthest] = 1;
      work.stack.emplace_back(start, farthest);
      work.stack.emplace_back(farthest, end);
    }
  }

  const auto kept = static_cast<std::size_t>(std::count(work.keep.begin(), work.keep.end(), 1));
  std::vector<TrackPoint> result;
  result.reserve(kept);
  for (std::size_t i = 0; i < n; ++i) {
    if (work.keep[i]) result.push_back(points[i]);
  }
  return result;
}

Activity simplify_activity(const Activity& activity, double tolerance, Workspace& work) {
  // Built field by field so that the input's points are never copied wholesale.
  Activity result{activity.name,       activity.sport,   activity.sub_sport,
                  activity.start_time, activity.summary, {}};
  result.segments.reserve(activity.segments.size());
  for (const Segment& segment : activity.segments) {
    result.segments.push_back(Segment{simplify_points(segment.points, tolerance, work)});
  }
  return result;
}

double effective_tolerance(double max_distance_m) {
  return max_distance_m > 0.0 ? max_distance_m : 0.0;  // NaN and negatives count as 0
}

}  // namespace

Activity Activity::simplified(double max_distance_m) const {
  Workspace work;
  return simplify_activity(*this, effective_tolerance(max_distance_m), work);
}

ActivityFile ActivityFile::simplified(double max_distance_m) const {
  const double tolerance = effective_tolerance(max_distance_m);
  Workspace work;
  ActivityFile result{{}, creator, device_info};
  result.activities.reserve(activities.size());
  for (const Activity& activity : activities) {
    result.activities.push_back(simplify_activity(activity, tolerance, work));
  }
  return result;
}

}  // namespace tramlix
