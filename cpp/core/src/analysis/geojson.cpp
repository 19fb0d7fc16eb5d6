// Activities as GeoJSON (RFC 7946): one Feature per activity, its segments the lines of a
// MultiLineString.
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../json_writer.hpp"
#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

// Coordinates, elevation and the structure around them, per position.
constexpr std::size_t kBytesPerPosition = 48;

// GeoJSON positions are WGS-84 longitude and latitude in their ranges, and JSON has no NaN.
bool placeable(const TrackPoint& point) {
  return point.latitude && point.longitude && std::abs(*point.latitude) <= 90.0 &&
         std::abs(*point.longitude) <= 180.0;
}

void write_feature(JsonWriter& w, const GeoFeature& feature) {
  w.open_object();
  w.key("type");
  w.plain_text("Feature");
  w.key("geometry");
  if (feature.lines.empty()) {
    w.null();
  } else {
    w.open_object();
    w.key("type");
    w.plain_text("MultiLineString");
    w.key("coordinates");
    w.open_array();
    for (const std::vector<GeoPosition>& line : feature.lines) {
      w.open_array();
      for (const GeoPosition& position : line) {
        w.open_array();
        w.value(std::optional<double>(position.longitude));
        w.value(std::optional<double>(position.latitude));
        if (feature.with_elevation) w.value(std::optional<double>(position.elevation_m));
        w.close_array();
      }
      w.close_array();
    }
    w.close_array();
    w.close_object();
  }
  w.key("properties");
  w.open_object();
  w.key("name");
  w.value(feature.name);
  w.key("sport");
  w.value(feature.sport);
  w.key("start_time");
  w.value(feature.start_time);
  w.key("end_time");
  w.value(feature.end_time);
  w.key("distance_meters");
  w.value(feature.distance_meters);
  w.close_object();
  w.close_object();
}

std::size_t positions(const GeoFeature& feature) {
  std::size_t count = 0;
  for (const std::vector<GeoPosition>& line : feature.lines) count += line.size();
  return count;
}

}  // namespace

GeoFeature geo_feature(const Activity& activity) {
  GeoFeature feature;
  feature.name = activity.name;
  feature.sport = activity.sport;
  feature.start_time = activity.effective_start_time();
  feature.end_time = activity.end_time();
  if (const double distance = activity.distance_meters(); std::isfinite(distance)) {
    feature.distance_meters = distance + 0.0;  // no -0.0 for "nothing measured"
  }
  bool every_elevation = true;
  for (const Segment& segment : activity.segments) {
    std::vector<GeoPosition> line;
    for (const TrackPoint& point : segment.points) {
      if (!placeable(point)) continue;
      const std::optional<double> elevation = analysis::value_of<Channel::Elevation>(point);
      line.push_back({*point.longitude, *point.latitude, elevation.value_or(0.0)});
      every_elevation = every_elevation && elevation.has_value();
    }
    // A line needs two positions; a lone fix draws nothing.
    if (line.size() >= 2) feature.lines.push_back(std::move(line));
  }
  feature.with_elevation = every_elevation && !feature.lines.empty();
  return feature;
}

std::string to_geojson(const Activity& activity) {
  const GeoFeature feature = geo_feature(activity);
  JsonWriter w(256 + positions(feature) * kBytesPerPosition);
  write_feature(w, feature);
  return w.take();
}

std::string to_geojson(const ActivityFile& file) {
  std::vector<GeoFeature> features;
  features.reserve(file.activities.size());
  std::size_t count = 0;
  for (const Activity& activity : file.activities) {
    features.push_back(geo_feature(activity));
    count += positions(features.back());
  }
  JsonWriter w(256 * (features.size() + 1) + count * kBytesPerPosition);
  w.open_object();
  w.key("type");
  w.plain_text("FeatureCollection");
  w.key("features");
  w.open_array();
  for (const GeoFeature& feature : features) write_feature(w, feature);
  w.close_array();
  w.close_object();
  return w.take();
}

}  // namespace tramlix
