// The fields of each model record, declared once: name and member, in declared order. The JSON
// writer takes its keys from here, and the Python binding its keywords, properties, signatures
// and argument conversions; a field added to a record is added here and nowhere else.
#pragma once

#include <cstddef>
#include <string_view>
#include <tuple>
#include <utility>

#include "tramlix/model.hpp"

namespace tramlix {

template <class Record, class Value>
struct Field {
  std::string_view name;  // a string literal, so also a null-terminated C string
  Value Record::*member;
};

// Spelled out for compilers without class template argument deduction for aggregates (clang
// before 17).
template <class Record, class Value>
Field(std::string_view, Value Record::*) -> Field<Record, Value>;

// Specialised for each record with `static constexpr std::tuple list{Field{...}, ...}`.
template <class Record>
struct Fields;

template <class T>
concept Described = requires {
  Fields<T>::list;
};

template <Described Record>
inline constexpr std::size_t kFieldCount = std::tuple_size_v<decltype(Fields<Record>::list)>;

// Calls `visit(field)` for each field of Record, in declared order.
template <Described Record, class Visit>
constexpr void for_each_field(Visit&& visit) {
  std::apply([&](const auto&... field) { (visit(field), ...); }, Fields<Record>::list);
}

// One field a line.
// clang-format off
template <>
struct Fields<TrackPoint> {
  static constexpr std::tuple list{
      Field{"time", &TrackPoint::time},
      Field{"latitude", &TrackPoint::latitude},
      Field{"longitude", &TrackPoint::longitude},
      Field{"elevation_m", &TrackPoint::elevation_m},
      Field{"distance_m", &TrackPoint::distance_m},
      Field{"heart_rate_bpm", &TrackPoint::heart_rate_bpm},
      Field{"cadence_rpm", &TrackPoint::cadence_rpm},
      Field{"speed_mps", &TrackPoint::speed_mps},
      Field{"power_watts", &TrackPoint::power_watts},
      Field{"temperature_c", &TrackPoint::temperature_c},
  };
};

template <>
struct Fields<Segment> {
  static constexpr std::tuple list{Field{"points", &Segment::points}};
};

template <>
struct Fields<ActivitySummary> {
  static constexpr std::tuple list{
      Field{"total_elapsed_seconds", &ActivitySummary::total_elapsed_seconds},
      Field{"total_timer_seconds", &ActivitySummary::total_timer_seconds},
      Field{"total_moving_seconds", &ActivitySummary::total_moving_seconds},
      Field{"total_distance_meters", &ActivitySummary::total_distance_meters},
      Field{"average_speed_mps", &ActivitySummary::average_speed_mps},
      Field{"average_heart_rate_bpm", &ActivitySummary::average_heart_rate_bpm},
      Field{"total_ascent_meters", &ActivitySummary::total_ascent_meters},
      Field{"total_descent_meters", &ActivitySummary::total_descent_meters},
  };
};

template <>
struct Fields<ElevationGain> {
  static constexpr std::tuple list{
      Field{"uphill_meters", &ElevationGain::uphill_meters},
      Field{"downhill_meters", &ElevationGain::downhill_meters},
  };
};

template <>
struct Fields<Bounds> {
  static constexpr std::tuple list{
      Field{"min_latitude", &Bounds::min_latitude},
      Field{"max_latitude", &Bounds::max_latitude},
      Field{"min_longitude", &Bounds::min_longitude},
      Field{"max_longitude", &Bounds::max_longitude},
  };
};

template <>
struct Fields<MovingData> {
  static constexpr std::tuple list{
      Field{"moving_time_seconds", &MovingData::moving_time_seconds},
      Field{"stopped_time_seconds", &MovingData::stopped_time_seconds},
      Field{"moving_distance_meters", &MovingData::moving_distance_meters},
      Field{"stopped_distance_meters", &MovingData::stopped_distance_meters},
      Field{"max_speed_mps", &MovingData::max_speed_mps},
  };
};

template <>
struct Fields<Activity> {
  static constexpr std::tuple list{
      Field{"name", &Activity::name},
      Field{"sport", &Activity::sport},
      Field{"sub_sport", &Activity::sub_sport},
      Field{"start_time", &Activity::start_time},
      Field{"summary", &Activity::summary},
      Field{"segments", &Activity::segments},
  };
};

template <>
struct Fields<DeviceInfo> {
  static constexpr std::tuple list{
      Field{"manufacturer", &DeviceInfo::manufacturer},
      Field{"manufacturer_id", &DeviceInfo::manufacturer_id},
      Field{"product", &DeviceInfo::product},
      Field{"product_id", &DeviceInfo::product_id},
      Field{"product_name", &DeviceInfo::product_name},
      Field{"serial_number", &DeviceInfo::serial_number},
      Field{"software_version", &DeviceInfo::software_version},
      Field{"device_index", &DeviceInfo::device_index},
      Field{"source_type", &DeviceInfo::source_type},
  };
};

template <>
struct Fields<ActivityFile> {
  static constexpr std::tuple list{
      Field{"activities", &ActivityFile::activities},
      Field{"creator", &ActivityFile::creator},
      Field{"device_info", &ActivityFile::device_info},
  };
};

// clang-format on

namespace detail {

// Stands for any member in a brace initialiser.
struct AnyMember {
  template <class T>
  operator T() const;
};

// How many members the aggregate T has: the most initialisers it takes.
template <class T, class... Members>
constexpr std::size_t member_count() {
  if constexpr (requires { T{Members{}..., AnyMember{}}; }) {
    return member_count<T, Members..., AnyMember>();
  } else {
    return sizeof...(Members);
  }
}

}  // namespace detail

// A member missing from its record's list would be neither exported nor settable from Python.
static_assert(kFieldCount<TrackPoint> == detail::member_count<TrackPoint>());
static_assert(kFieldCount<Segment> == detail::member_count<Segment>());
static_assert(kFieldCount<ActivitySummary> == detail::member_count<ActivitySummary>());
static_assert(kFieldCount<ElevationGain> == detail::member_count<ElevationGain>());
static_assert(kFieldCount<Bounds> == detail::member_count<Bounds>());
static_assert(kFieldCount<MovingData> == detail::member_count<MovingData>());
static_assert(kFieldCount<Activity> == detail::member_count<Activity>());
static_assert(kFieldCount<DeviceInfo> == detail::member_count<DeviceInfo>());
static_assert(kFieldCount<ActivityFile> == detail::member_count<ActivityFile>());

}  // namespace tramlix
