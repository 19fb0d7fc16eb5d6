// libFuzzer target for recover(): whatever the bytes, it returns without failing; it says
// nothing exactly when loads() reads them, and then gives what loads() gives; what it keeps is
// written in every format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tramlix/io.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tramlix::Format;
  const std::span bytes(data, size);
  const tramlix::Recovery recovery = tramlix::recover(bytes);
  const auto loaded = tramlix::loads(bytes);
  if (recovery.problems.empty() != loaded.has_value()) std::abort();
  if (loaded && *loaded != recovery.file) std::abort();
  for (const Format format : Format::all()) {
    if (!tramlix::dumps(recovery.file, format)) std::abort();
  }
  return 0;
}
