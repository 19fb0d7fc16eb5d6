// libFuzzer target for the front door: whatever the bytes, loads either reads them or returns
// an error, and a file it reads is written in every format (leaving out what a format cannot
// carry) and read back.
//
// Built once per format (TRAMLIX_FUZZ_FORMAT = "gpx", "tcx", "fit": a Format name) so that each
// reader is fed directly, without the content sniffing in front of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tramlix/io.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tramlix::Format;
  static const Format fed = Format::from_str(TRAMLIX_FUZZ_FORMAT).value();
  auto file = tramlix::loads(std::span(data, size), fed);
  if (!file) {
    (void)file.error().display();
    return 0;
  }
  (void)tramlix::to_json(*file);
  for (const Format format : Format::all()) {
    auto bytes = tramlix::dumps(*file, format);
    if (!bytes) std::abort();  // every model has a document in every format
    const std::span written(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
    // What we write, we must read.
    if (!tramlix::loads(written, format) && file->point_count() > 0) std::abort();
  }
  return 0;
}
