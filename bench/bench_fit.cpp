// Throughput of FIT decoding and encoding: the typed decoder alone, the whole FIT path of loads
// (the integrity check, decoding and mapping onto the model), every message as tables, dumps of
// the loaded model back to FIT (per byte of output), and loads on two threads at once against
// one. Prints one JSON object per measurement on standard output.
//
//   tramlix-fit-bench FILE...
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fit/typed_decoder.hpp"
#include "timing.hpp"
#include "tramlix/fit_messages.hpp"
#include "tramlix/io.hpp"

namespace {

void report(const char* file, const char* what, double seconds, std::size_t bytes,
            std::size_t count) {
  std::printf(
      "{\"file\": \"%s\", \"what\": \"%s\", \"median_s\": %.9f, \"mb_per_s\": %.3f, \"messages\": "
      "%zu}\n",
      file, what, seconds, bytes / seconds / 1e6, count);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::vector<std::uint8_t> bytes = bench::read_file<std::vector<std::uint8_t>>(argv[i]);
    std::size_t messages = 0;
    const auto decode = [&] {
      messages = 0;
      fit::TypedDecoder decoder = fit::DecoderBuilder(bytes).build();
      fit::Message message;
      while (true) {
        auto more = decoder.next(message);
        if (!more || !*more) break;
        ++messages;
      }
    };
    const double decode_seconds = bench::median_seconds(decode);
    report(argv[i], "typed_decoder", decode_seconds, bytes.size(), messages);
    std::size_t points = 0;
    const double loads_seconds = bench::median_seconds([&] {
      auto file = tramlix::loads(bytes);
      points = file ? file->point_count() : 0;
    });
    report(argv[i], "loads", loads_seconds, bytes.size(), points);
    std::size_t tables = 0;
    const double messages_seconds = bench::median_seconds([&] {
      auto all = tramlix::fit_messages::tables(bytes);
      tables = all ? all->size() : 0;
    });
    report(argv[i], "messages", messages_seconds, bytes.size(), tables);
    const auto model = tramlix::loads(bytes);
    if (!model) continue;
    std::size_t written = 0;
    const double dumps_seconds = bench::median_seconds([&] {
      const auto out = tramlix::dumps(*model, tramlix::Format::Fit);
      written = out ? out->size() : 0;
    });
    report(argv[i], "dumps", dumps_seconds, written, points);
    const int calls = static_cast<int>(std::max(1.0, 0.05 / loads_seconds));
    bench::report_scaling(argv[i],
                          bench::two_thread_scaling([&] { (void)tramlix::loads(bytes); }, calls));
  }
  return 0;
}
