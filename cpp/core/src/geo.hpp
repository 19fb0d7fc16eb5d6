// Great-circle distance and NaN-aware comparisons shared by the track analyses.
#pragma once

#include <cmath>

#include "tramlix/model.hpp"

namespace tramlix::geo {

inline constexpr double kDegreesToRadians = 0.017453292519943295;
// Twice the mean Earth radius (6371008.8 m).
inline constexpr double kEarthDiameterM = 12742017.6;

inline bool has_position(const TrackPoint& point) {
  return point.latitude.has_value() && point.longitude.has_value();
}

inline double cos_latitude(double latitude) {
  return std::cos(latitude * kDegreesToRadians);
}

// Haversine distance in metres between two positions given in degrees, with the cosines of
// their latitudes already computed (a walk along a track reuses each point's cosine).
inline double haversine_m(double lat1, double lon1, double cos_lat1, double lat2, double lon2,
                          double cos_lat2) {
  const double phi1 = lat1 * kDegreesToRadians;
  const double phi2 = lat2 * kDegreesToRadians;
  const double half_dphi = std::sin((phi2 - phi1) / 2.0);
  const double half_dlambda = std::sin((lon2 - lon1) * kDegreesToRadians / 2.0);
  const double a = half_dphi * half_dphi + cos_lat1 * cos_lat2 * (half_dlambda * half_dlambda);
  return std::asin(std::sqrt(a)) * kEarthDiameterM;
}

// Haversine distance in metres between two positions given in degrees.
inline double haversine_m(double lat1, double lon1, double lat2, double lon2) {
  return haversine_m(lat1, lon1, cos_latitude(lat1), lat2, lon2, cos_latitude(lat2));
}

// Both points must carry latitude and longitude.
inline double haversine_m(const TrackPoint& from, const TrackPoint& to) {
  return haversine_m(*from.latitude, *from.longitude, *to.latitude, *to.longitude);
}

// The larger of two values where a NaN loses to a number; on a tie the first is kept.
inline double max_ignoring_nan(double current, double candidate) {
  if (std::isnan(current) || candidate > current) return candidate;
  return current;
}

inline double min_ignoring_nan(double current, double candidate) {
  if (std::isnan(current) || candidate < current) return candidate;
  return current;
}

}  // namespace tramlix::geo
