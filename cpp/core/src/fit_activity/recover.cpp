// Reading what a damaged FIT file still holds, and saying what was wrong with it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fit/file_header.hpp"
#include "fit/framing.hpp"
#include "fit_activity/fit_activity.hpp"
#include "problems.hpp"

namespace tramlix::fit_activity {
namespace {

std::uint16_t load_u16_le(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// How problems name the file of a chain they are about: the first goes without saying.
std::string file_at(std::size_t offset) {
  return offset == 0 ? std::string() : "chained file at offset " + std::to_string(offset) + ": ";
}

// Checks the CRCs of the file `header` describes, both of them, telling each that does not
// match. A file cut short has no file CRC to check.
void check_crcs(std::span<const std::uint8_t> bytes, const fit::FileHeader& header,
                std::vector<std::string>& problems) {
  const std::size_t begin = header.begin();
  const auto ignored = [&](const fit::FitError& error) {
    problems.push_back(file_at(begin) + error.display() + " (ignored)");
  };
  if (header.size == 14) {
    const std::uint16_t stored = load_u16_le(bytes, begin + 12);
    const std::uint16_t calculated = fit::crc16(bytes.subspan(begin, 12));
    if (stored != 0 && stored != calculated) ignored(fit::HeaderCrcMismatch{stored, calculated});
  }
  if (header.end() <= bytes.size()) {
    const std::uint16_t stored = load_u16_le(bytes, header.data_end);
    const std::uint16_t calculated = fit::crc16(bytes.subspan(begin, header.data_end - begin));
    if (stored != calculated) ignored(fit::FileCrcMismatch{stored, calculated});
  }
}

// What stopped the decoding, in words; `file` is where the file it stopped in begins.
std::string stop_text(const DecodeStop& stop, std::size_t file) {
  const std::string at = std::to_string(stop.offset);
  if (stop.error.get<fit::FileTooShort>() || stop.error.get<fit::InvalidHeaderSize>() ||
      stop.error.get<fit::InvalidSignature>()) {
    return file_at(stop.offset) + stop.error.display();
  }
  if (stop.error.get<fit::UnexpectedEof>()) {
    return file_at(file) + "data ends inside a record at offset " + at;
  }
  return file_at(file) + stop.error.display() + " in the record at offset " + at;
}

// A file of the chain whose bytes end before its data section and CRC do; `kept` counts the
// records read.
std::string cut_text(const fit::FileHeader& header, std::size_t size, const std::string& kept) {
  const std::size_t declared_end = header.data_begin + header.data_size;
  if (header.data_end == declared_end) {
    return file_at(header.begin()) + "the file ends after its data, without its CRC: kept " + kept;
  }
  return file_at(header.begin()) + "data ends at offset " + std::to_string(size) + ", " +
         counted(declared_end - size, "byte", "bytes") +
         " short of what the header declares: kept " + kept + " before it";
}

}  // namespace

std::expected<ActivityFile, Error> recover(std::span<const std::uint8_t> bytes,
                                           std::vector<std::string>& problems) {
  // The frame of every file of the chain. A header that does not read stops the decoder as a
  // rule, and it is told with what the decoder kept.
  std::optional<fit::FileHeader> cut;
  std::optional<DecodeStop> bad_header;
  std::vector<std::size_t> starts;  // of the files whose header reads
  for (std::size_t position = 0;;) {
    const auto header = fit::read_cut_file_header(bytes, position);
    if (!header) {
      bad_header = DecodeStop{header.error(), position};
      break;
    }
    starts.push_back(position);
    check_crcs(bytes, *header, problems);
    if (header->end() > bytes.size()) {
      cut = *header;
      break;
    }
    position = header->end();
    if (!fit::begins_file(bytes, position)) break;
  }

  ActivityMapper mapper(bytes.size() / 32);
  // A record that runs past the end of its data section can take the decoder past a chained
  // file's header without a look at it; the header is still at fault.
  auto stop = map_messages(bytes, mapper, /*read_cut_files=*/true);
  if (!stop) stop = bad_header;
  auto file = std::move(mapper).finish();
  const std::string kept = counted(file ? file->point_count() : 0, "record", "records");
  if (stop) {
    const auto file_start = std::ranges::upper_bound(starts, stop->offset);
    const std::size_t in_file = file_start == starts.begin() ? 0 : *(file_start - 1);
    problems.push_back(stop_text(*stop, in_file) + ": kept " + kept + " before it");
  } else if (cut) {
    problems.push_back(cut_text(*cut, bytes.size(), kept));
  }
  return file;
}

}  // namespace tramlix::fit_activity
