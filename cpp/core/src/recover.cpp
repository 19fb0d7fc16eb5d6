// Reading what damaged files still hold: the front door's recover().
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats.hpp"
#include "gzip.hpp"
#include "problems.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

// A reader's own message says what is wrong; other errors need their kind said.
std::string problem(const Error& error) {
  return error.kind() == Error::Kind::InvalidData ? error.message() : error.display();
}

std::expected<ActivityFile, Error> read_what_is_there(std::span<const std::uint8_t> data,
                                                      std::vector<std::string>& problems) {
  const auto format = Format::detect(data);
  if (!format) return std::unexpected(format.error());
  return format_entry(*format)->recover(data, problems);
}

}  // namespace

Recovery recover(std::span<const std::uint8_t> data) {
  Recovery recovery;
  std::vector<std::string>& problems = recovery.problems;
  std::optional<gzip::Prefix> unpacked;
  if (gzip::is_gzip(data)) {
    using Fault = gzip::Prefix::Fault;
    unpacked = gzip::inflate_prefix(data);
    const std::size_t size = unpacked->bytes.size;
    switch (unpacked->fault) {
      case Fault::None:
        break;
      case Fault::Damaged:
        if (size == 0) {
          problems.push_back(unpacked->error->display());
          return recovery;
        }
        problems.push_back(unpacked->error->display() + ": kept the " +
                           counted(size, "byte", "bytes") + " unpacked before it");
        break;
      case Fault::TrailingBytes:
        problems.push_back(unpacked->error->display() + " (ignored)");
        break;
      case Fault::OverLimit:
        problems.push_back(unpacked->error->display());
        return recovery;
    }
    data = unpacked->bytes.span();
    if (gzip::is_gzip(data)) {
      problems.push_back(gzip::compressed_twice().display());
      return recovery;
    }
  }
  auto file = read_what_is_there(data, problems);
  if (file) {
    recovery.file = std::move(*file);
  } else {
    problems.push_back(problem(file.error()));
  }
  return recovery;
}

}  // namespace tramlix
