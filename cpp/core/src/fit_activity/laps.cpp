// FIT lap messages onto activities. Which activity a lap belongs to follows the rule by which
// ActivityMapper shares records out among sessions (see fit_activity.hpp): the records and laps
// since the last session wait for the sessions after them; one session, or sessions without
// start times, take all of them into the first; two or more sessions in a row, all with a start
// time, share them out by time. Only sessions that end up with records make activities.
#include "fit_activity/laps.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "fit/framing.hpp"
#include "fit/typed_decoder.hpp"
#include "fit_activity/fit_activity.hpp"
#include "text.hpp"
#include "tramlix/format.hpp"

namespace tramlix::fit_activity {
namespace {

using fit::Value;

std::optional<double> number(const Value& value) {
  if (const auto* n = value.get<std::int64_t>()) return static_cast<double>(*n);
  if (const auto* n = value.get<std::uint64_t>()) return static_cast<double>(*n);
  if (const auto* n = value.get<double>()) return *n;
  return std::nullopt;
}

std::optional<UtcInstant> instant(const Value& value) {
  const auto* t = value.get<fit::Timestamp>();
  if (t == nullptr) return std::nullopt;
  return UtcInstant{t->unix_seconds, 0};
}

std::optional<std::string> name(const Value& value) {
  if (const auto* e = value.get<fit::EnumName>()) return std::string(e->view());
  if (const auto n = number(value)) return std::to_string(static_cast<std::uint64_t>(*n));
  return std::nullopt;
}

// The lap's totals by their FIT fields. Of a plain field and its enhanced twin the plain one
// wins when it holds a number, as for records.
Lap lap_of(const fit::Message& message) {
  Lap lap;
  std::optional<UtcInstant> timestamp;
  std::optional<double> enhanced_avg_speed;
  std::optional<double> enhanced_max_speed;
  for (const fit::Field& field : message.fields) {
    if (field.developer || field.value.is_invalid()) continue;
    const std::string_view n = field.name;
    const Value& v = field.value;
    if (n == "timestamp") {
      timestamp = instant(v);
    } else if (n == "start_time") {
      lap.start_time = instant(v);
    } else if (n == "total_elapsed_time") {
      lap.total_elapsed_seconds = number(v);
    } else if (n == "total_timer_time") {
      lap.total_timer_seconds = number(v);
    } else if (n == "total_distance") {
      lap.distance_meters = number(v);
    } else if (n == "avg_heart_rate") {
      lap.average_heart_rate_bpm = number(v);
    } else if (n == "max_heart_rate") {
      lap.max_heart_rate_bpm = number(v);
    } else if (n == "avg_speed") {
      lap.average_speed_mps = number(v);
    } else if (n == "enhanced_avg_speed") {
      enhanced_avg_speed = number(v);
    } else if (n == "max_speed") {
      lap.max_speed_mps = number(v);
    } else if (n == "enhanced_max_speed") {
      enhanced_max_speed = number(v);
    } else if (n == "avg_cadence" || n == "avg_running_cadence") {
      lap.average_cadence_rpm = number(v);
    } else if (n == "avg_power") {
      lap.average_power_watts = number(v);
    } else if (n == "total_calories") {
      lap.calories = number(v);
    } else if (n == "total_ascent") {
      lap.total_ascent_meters = number(v);
    } else if (n == "total_descent") {
      lap.total_descent_meters = number(v);
    } else if (n == "lap_trigger") {
      lap.trigger = name(v);
    } else if (n == "intensity") {
      lap.intensity = name(v);
    }
  }
  if (!lap.average_speed_mps) lap.average_speed_mps = enhanced_avg_speed;
  if (!lap.max_speed_mps) lap.max_speed_mps = enhanced_max_speed;
  // A lap's timestamp is when it ended.
  lap.end_time = timestamp;
  if (!lap.end_time && lap.start_time && lap.total_elapsed_seconds &&
      std::isfinite(*lap.total_elapsed_seconds) && *lap.total_elapsed_seconds >= 0 &&
      *lap.total_elapsed_seconds < 1e15) {
    lap.end_time = add_milliseconds(
        *lap.start_time, static_cast<std::int64_t>(std::round(*lap.total_elapsed_seconds * 1e3)));
  }
  return lap;
}

class LapMapper {
 public:
  void add(const fit::Message& message) {
    const std::string_view kind = message.name;
    if (kind == "record") {
      if (!sessions_.empty()) close_sessions();
      std::optional<UtcInstant> time;
      if (const fit::Field* field = message.field("timestamp")) time = instant(field->value);
      records_.push_back(time);
    } else if (kind == "lap") {
      laps_.push_back({lap_of(message), records_.size()});
    } else if (kind == "session") {
      std::optional<UtcInstant> start;
      for (const fit::Field& field : message.fields) {
        if (!field.developer && field.name == "start_time") start = instant(field.value);
      }
      // With no records waiting, a session closes nothing (the mapper hands its values on).
      if (!records_.empty()) sessions_.push_back(start);
    }
  }

  std::vector<Lap> finish() && {
    if (!sessions_.empty()) close_sessions();
    close(records_.size(), laps_);
    records_.clear();
    // Laps after the last records join the last activity.
    const std::optional<std::uint32_t> last =
        activities_ > 0 ? std::optional<std::uint32_t>(activities_ - 1) : std::nullopt;
    for (Pending& pending : laps_) place(std::move(pending.lap), last);
    return std::move(finished_);
  }

 private:
  struct Pending {
    Lap lap;
    std::size_t records_before;  // records since the last close that came before it
  };

  // An activity made of `count` records, and the laps in `laps`; none when there are no
  // records, and then the laps wait.
  void close(std::size_t count, std::vector<Pending>& laps) {
    if (count == 0) return;
    for (Pending& pending : laps) place(std::move(pending.lap), activities_);
    laps.clear();
    ++activities_;
  }

  void place(Lap lap, std::optional<std::uint32_t> activity) {
    lap.activity = activity;
    lap.lap = activity ? laps_in_[*activity]++ : unassigned_++;
    finished_.push_back(std::move(lap));
  }

  void close_sessions() {
    const bool by_time = sessions_.size() > 1 && std::ranges::all_of(sessions_, [](auto& start) {
                           return start.has_value();
                         });
    if (by_time) {
      split_by_start_time();
    } else {
      // The first session takes everything waiting; the others close nothing.
      close(records_.size(), laps_);
    }
    records_.clear();
    sessions_.clear();
    laps_.clear();
  }

  void split_by_start_time() {
    std::vector<UtcInstant> starts;
    for (const auto& start : sessions_) starts.push_back(*start);
    std::ranges::stable_sort(starts);
    const auto session_at = [&](UtcInstant time) {
      const auto later = std::ranges::upper_bound(starts, time);
      const auto index = static_cast<std::size_t>(later - starts.begin());
      return index == 0 ? 0 : index - 1;
    };
    // The session of each record: by its time; one without a time stays with the one before.
    std::vector<std::size_t> session_of(records_.size());
    std::vector<std::size_t> records_in(starts.size());
    for (std::size_t i = 0, session = 0; i < records_.size(); ++i) {
      if (records_[i]) session = session_at(*records_[i]);
      session_of[i] = session;
      ++records_in[session];
    }
    std::vector<std::vector<Pending>> laps_in(starts.size());
    for (Pending& pending : laps_) {
      const std::optional<UtcInstant> time =
          pending.lap.start_time ? pending.lap.start_time : pending.lap.end_time;
      std::size_t session = 0;
      if (time) {
        session = session_at(*time);
      } else if (pending.records_before > 0) {
        session = session_of[pending.records_before - 1];
      }
      laps_in[session].push_back(std::move(pending));
    }
    for (std::size_t k = 0; k < starts.size(); ++k) {
      if (records_in[k] == 0) {
        // A session without records of its own makes no activity: its laps belong to none.
        for (Pending& pending : laps_in[k]) place(std::move(pending.lap), std::nullopt);
        continue;
      }
      close(records_in[k], laps_in[k]);
    }
  }

  std::vector<std::optional<UtcInstant>> records_;   // the times of those since the last close
  std::vector<Pending> laps_;                        // laps since the last close
  std::vector<std::optional<UtcInstant>> sessions_;  // start times of the sessions waiting
  std::vector<Lap> finished_;
  std::uint32_t activities_ = 0;
  std::unordered_map<std::uint32_t, std::uint32_t> laps_in_;
  std::uint32_t unassigned_ = 0;
};

}  // namespace

std::expected<std::vector<Lap>, Error> read_laps(std::span<const std::uint8_t> bytes) {
  constexpr Format kFormat = Format::Fit;
  if (auto intact = fit::check_integrity(bytes); !intact) {
    return std::unexpected(Error::invalid_data(kFormat.label(), intact.error().display()));
  }
  LapMapper mapper;
  auto decoder = fit::DecoderBuilder(bytes).build();  // every transform, as load() applies them
  fit::Message message;
  for (;;) {
    auto more = decoder.next(message);
    if (!more) {
      return std::unexpected(Error::invalid_data(kFormat.label(), more.error().display())
                                 .at(ByteOffset{decoder.record_offset()}));
    }
    if (!*more) break;
    mapper.add(message);
  }
  return std::move(mapper).finish();
}

}  // namespace tramlix::fit_activity
