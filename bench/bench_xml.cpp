// Throughput of the XML readers against the floor under them: expat parsing the same bytes
// with empty handlers, and loading on two threads at once against one. Prints one JSON object
// per measurement on standard output.
//
//   tramlix-bench [--only WHAT] FILE...   (WHAT: expat_bare, read, two_threads, write_gpx,
//                                          moving_data)
#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "gpx/gpx.hpp"
#include "timing.hpp"
#include "tramlix/io.hpp"
#include "tramlix/model.hpp"

namespace {

void XMLCALL empty_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL empty_end(void*, const XML_Char*) {}
void XMLCALL empty_text(void*, const XML_Char*, int) {}

// The floor: expat with handlers that do nothing.
void bare_expat(const std::string& bytes) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetElementHandler(parser, empty_start, empty_end);
  XML_SetCharacterDataHandler(parser, empty_text);
  if (XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) != XML_STATUS_OK) {
    std::fprintf(stderr, "expat: %s\n", XML_ErrorString(XML_GetErrorCode(parser)));
  }
  XML_ParserFree(parser);
}

std::string only;  // when set, the one measurement to run (for profiling)

void report(const char* file, const char* what, double seconds, std::size_t bytes) {
  std::printf("{\"file\": \"%s\", \"what\": \"%s\", \"median_s\": %.9f, \"mb_per_s\": %.3f}\n",
              file, what, seconds, bytes / seconds / 1e6);
}

}  // namespace

// Runs and reports one measurement unless --only names another.
void measure(const char* file, const char* what, std::size_t bytes,
             const std::function<void()>& work) {
  if (only.empty() || only == what) report(file, what, bench::median_seconds(work), bytes);
}

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 2 && std::string(argv[1]) == "--only") {
    only = argv[2];
    first = 3;
  }
  for (int i = first; i < argc; ++i) {
    const std::string bytes = bench::read_file<std::string>(argv[i]);
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size());
    auto file = tramlix::loads(data);
    if (!file) {
      std::fprintf(stderr, "%s: %s\n", argv[i], file.error().display().c_str());
      return 1;
    }
    measure(argv[i], "expat_bare", bytes.size(), [&] { bare_expat(bytes); });
    measure(argv[i], "read", bytes.size(), [&] { (void)tramlix::loads(data); });
    std::string written;
    measure(argv[i], "write_gpx", bytes.size(),
            [&] { written = *tramlix::dumps(*file, tramlix::Format::Gpx); });
    if (only.empty() || only == "two_threads") {
      const double seconds = bench::median_seconds([&] { (void)tramlix::loads(data); });
      const int calls = static_cast<int>(std::max(1.0, 0.05 / seconds));
      bench::report_scaling(argv[i],
                            bench::two_thread_scaling([&] { (void)tramlix::loads(data); }, calls));
    }
    double sink = 0;
    measure(argv[i], "moving_data", bytes.size(), [&] {
      for (const auto& activity : file->activities) sink += activity.moving_data(1.0).max_speed_mps;
    });
    if (sink < 0) std::puts("");
  }
  return 0;
}
