// Throughput of FIT decoding: the typed decoder alone, and the whole FIT path of loads (the
// integrity check, decoding and mapping onto the model). Prints one JSON object per
// measurement on standard output.
//
//   tramlix-fit-bench FILE...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "fit/typed_decoder.hpp"
#include "tramlix/io.hpp"

namespace {

std::vector<std::uint8_t> read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Median wall time of `work`, repeated for at least half a second and at least 7 times.
double median_seconds(const std::function<void()>& work) {
  std::vector<double> times;
  const auto begin = std::chrono::steady_clock::now();
  while (times.size() < 7 || (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(500) &&
                              times.size() < 1000)) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void report(const char* file, const char* what, double seconds, std::size_t bytes, std::size_t count) {
  std::printf(
      "{\"file\": \"%s\", \"what\": \"%s\", \"median_s\": %.9f, \"mb_per_s\": %.3f, \"messages\": %zu}\n",
      file, what, seconds, bytes / seconds / 1e6, count);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::vector<std::uint8_t> bytes = read_file(argv[i]);
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
    const double decode_seconds = median_seconds(decode);
    report(argv[i], "typed_decoder", decode_seconds, bytes.size(), messages);
    std::size_t points = 0;
    const double loads_seconds = median_seconds([&] {
      auto file = tramlix::loads(bytes);
      points = file ? file->point_count() : 0;
    });
    report(argv[i], "loads", loads_seconds, bytes.size(), points);
  }
  return 0;
}
