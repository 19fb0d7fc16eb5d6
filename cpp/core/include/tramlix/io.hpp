// The front door: every read and write of a file goes through these four calls.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "tramlix/error.hpp"
#include "tramlix/format.hpp"
#include "tramlix/model.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix {

// Reads a file's bytes, gzip-compressed or not (at most 1 GiB once inflated); without a format
// the content is sniffed.
std::expected<ActivityFile, Error> loads(std::span<const std::uint8_t> data,
                                         std::optional<Format> format = std::nullopt);

// Encodes a file in the given format; the result is the complete file's bytes. What the format
// cannot carry is left out, and counted into `omitted` when given.
std::expected<std::string, Error> dumps(const ActivityFile& file, Format format,
                                        Omissions* omitted = nullptr);

// Reads the whole file at `path`; the format (and compression) always comes from the content.
std::expected<ActivityFile, Error> load(const std::string& path);

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
