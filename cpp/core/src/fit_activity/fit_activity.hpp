// FIT activity files: typed FIT messages onto the activity model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fit/error.hpp"
#include "fit/field_reader.hpp"
#include "fit/value.hpp"
#include "tramlix/error.hpp"
#include "tramlix/model.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix::fit_activity {

// 2^31 semicircles make 180 degrees.
inline constexpr double kSemicirclesPerDegree = 11930464.711111112;

// Reads a FIT file (chained files included); failures are InvalidData labelled "FIT".
std::expected<ActivityFile, Error> read(std::span<const std::uint8_t> bytes);

// The messages of a FIT activity file for `file`, in file order: file_id, device_info when the
// file has device information, then per activity its records and, when its start and end are
// known, one lap, session and activity message. Values are in the model's units; the encoder
// applies the profile's scales. What the messages leave out is counted into `omitted`, when given.
std::vector<fit::Message> activity_messages(const ActivityFile& file, Omissions* omitted = nullptr);

// Encodes `file` as a FIT activity file (protocol 2.0, profile 21.200); failures are Encode
// labelled "FIT". Texts longer than a string field holds are cut, so every model has a file.
// What it leaves out, in the messages or as values the encoder writes as invalid, is counted
// into `omitted`, when given.
std::expected<std::string, Error> write(const ActivityFile& file, Omissions* omitted = nullptr);

// The same file with every record built as a message first and encoded with the others, as the
// encoder resolves any message: what write(), which writes records straight from the points, is
// checked against.
std::expected<std::string, Error> write_messages(const ActivityFile& file,
                                                 Omissions* omitted = nullptr);

// Maps decoded messages, in file order, onto one activity file. Records become points and
// sessions close the activities they belong to: a session closes the points recorded since the
// last one, except that two or more sessions in a row, all with a start time, share the points
// before them out by time (devices that write every record first, then one session per sport).
// The device comes from file_id and the device_info messages about the recording device
// (device index 0 or none); other devices' messages count only in a file with no word about
// its recorder. Every other message is ignored. A field holding FIT's invalid marker counts as
// not carried, while a value of the wrong kind clears its target.
//
// Whatever was added before a decoding error can still be finished into a file.
class ActivityMapper {
 public:
  // Room for this many points up front: growing a large point list costs more than mapping it.
  explicit ActivityMapper(std::size_t expected_points = 0) { points_.reserve(expected_points); }

  void add(const fit::Message& message);

  // Whether add() looks at messages with this global number at all: others need no decoding.
  static bool reads(std::uint16_t global_number);

  // The record fields a point is made of: what a FieldReader reads for add_record().
  static std::span<const std::string_view> record_fields();

  // A record that `records`, a FieldReader over record_fields(), reads() straight from its
  // bytes: the same point as add() makes of the decoded message.
  void add_record(fit::FieldReader& records, const fit::RawRecord& record,
                  fit::TypedDecoder& decoder);

  // The mapped file; "no record messages found" when no activity holds a point.
  std::expected<ActivityFile, Error> finish() &&;

 private:
  // What one session writes: its targets in `values`, and which of them it carries.
  struct Session {
    Activity values;
    std::uint16_t carried = 0;
  };
  struct Device {
    DeviceInfo info;
    bool seen = false;
  };

  TrackPoint& new_point();
  void add_record(const fit::Message& message);
  void add_session(const fit::Message& message);
  void add_device(const fit::Message& message, bool about_creator);
  void apply(const Session& session);
  void close_sessions();
  void split_by_start_time();
  void finish_activity();

  std::vector<Activity> finished_;
  Activity current_;
  std::vector<TrackPoint> points_;
  std::vector<Session> sessions_;  // sessions since the last record, while points wait
  Device creator_;                 // file_id and the recorder's device_info
  Device any_device_;              // every device, later messages overwriting earlier ones
};

// Where and why a walk through the messages stopped early.
struct DecodeStop {
  fit::FitError error;
  std::size_t offset;  // of the record (or chained file header) that failed
};

// How map_messages() takes the messages to the mapper. Both give the same file.
enum class Decoding {
  Direct,  // records read straight from their bytes; what the mapper ignores not decoded
  Typed,   // every message decoded in full by the typed decoder
};

// Feeds the messages of `bytes`, as decoded with every transform on, to `mapper` in file order.
// Returns what ended the walk early, if anything; the messages before it have been added. No
// CRC is checked. With `read_cut_files`, a file cut short is read up to the end of the bytes.
std::optional<DecodeStop> map_messages(std::span<const std::uint8_t> bytes, ActivityMapper& mapper,
                                       bool read_cut_files = false,
                                       Decoding decoding = Decoding::Direct);

// Reads what a damaged FIT file still holds: checksums that do not match are ignored, a file cut
// short is read as far as it goes, and decoding stops at the first record that does not decode,
// keeping every record before it. Each fault is told in `problems`, with what was kept. Fails
// only when no activity is left ("no record messages found").
std::expected<ActivityFile, Error> recover(std::span<const std::uint8_t> bytes,
                                           std::vector<std::string>& problems);

}  // namespace tramlix::fit_activity
