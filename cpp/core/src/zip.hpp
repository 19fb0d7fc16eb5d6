// zip archives (PKWARE APPNOTE) as bulk exports of training services ship them: the central
// directory is read to list the members, and a member is read by itself, stored or deflated,
// straight from the archive file. Nothing is ever extracted to disk.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "gzip.hpp"
#include "tramlix/error.hpp"
#include "tramlix/many.hpp"

namespace tramlix::zip {

// The members of the archive at `path` as its central directory lists them (zip64 included),
// with `archive` set to `path`. Fails with Io when the file cannot be read and with InvalidData
// labelled "zip" when it is not a zip archive, is cut short, or spans several files.
std::expected<std::vector<ArchiveMember>, Error> read_directory(const std::string& path);

// The bytes of one member: stored or deflated, checked against the CRC-32 and the size the
// central directory gives, which bounds the output (at most `max_output` bytes). Fails with
// InvalidData labelled "zip" for an encrypted member, another compression method, or data that
// is damaged or does not match.
std::expected<gzip::Bytes, Error> read_member(const ArchiveMember& member,
                                              std::size_t max_output = gzip::kMaxOutput);

}  // namespace tramlix::zip
