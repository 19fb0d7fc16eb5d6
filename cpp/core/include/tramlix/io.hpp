// The front door: every read and write of a file goes through these four calls.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tramlix/error.hpp"
#include "tramlix/format.hpp"
#include "tramlix/model.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix {

// Reads a file's bytes, gzip-compressed or not (at most 1 GiB once inflated); without a format
// the content is sniffed.
std::expected<ActivityFile, Error> loads(std::span<const std::uint8_t> data,
                                         std::optional<Format> format = std::nullopt);

// What recover() could read of damaged bytes, and what was wrong with them.
struct Recovery {
  // The activities read up to the damage; an ActivityFile{} (no activities) when nothing could
  // be kept.
  ActivityFile file;
  // One text per fault, saying what was wrong and what was kept despite it, such as "file CRC
  // mismatch: stored 0x1234, calculated 0xABCD (ignored)". Empty for what loads() reads.
  std::vector<std::string> problems;
};

// Reads what damaged bytes still hold, where loads() would fail: a file cut short, a bad
// checksum, a FIT record or an XML document that goes wrong part-way, a damaged gzip stream.
// Everything before the damage is kept; bytes that loads() reads give the same file and no
// problems. Never fails: bytes that hold nothing to keep give an empty file and the reasons.
Recovery recover(std::span<const std::uint8_t> data);

// Encodes a file in the given format; the result is the complete file's bytes. What the format
// cannot carry is left out, and counted into `omitted` when given.
std::expected<std::string, Error> dumps(const ActivityFile& file, Format format,
                                        Omissions* omitted = nullptr);

// The most load() and recover_file() read from a path that is not a regular file (a pipe, a
// terminal, a device such as /dev/stdin); more fails with Error::Kind::TooLarge.
inline constexpr std::size_t kMaxStreamBytes = std::size_t{1} << 30;

// Reads the whole file at `path`; the format (and compression) always comes from the content.
std::expected<ActivityFile, Error> load(const std::string& path);

// recover() of the whole file at `path`; fails only when the file cannot be read.
std::expected<Recovery, Error> recover_file(const std::string& path);

// Encodes in the format named by the extension of `path` and writes the whole file,
// gzip-compressed when ".gz" follows that extension ("run.gpx.gz"). A regular file is replaced
// atomically: the bytes go to a temporary file beside it, synced, then renamed over it, so a
// failure leaves the old file as it was. A new file gets 0666 less the umask, an existing one
// keeps its permission bits; symbolic links are written through and stay links. A path that
// leads to anything else (a FIFO, a terminal, /dev/stdout) is written in place.
// What the format leaves out is counted into `omitted` when given.
std::expected<void, Error> save(const ActivityFile& file, const std::string& path,
                                Omissions* omitted = nullptr);

}  // namespace tramlix
