// The shared corpus of real files, and schema validation of written documents with xmllint.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace tramlix::corpus {

namespace fs = std::filesystem;

inline const fs::path kDir = fs::path(TRAMLIX_CORPUS_DIR);

// The files of one corpus folder ("gpx", "tcx", ...) in name order.
inline std::vector<fs::path> files(std::string_view folder) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(kDir / folder)) {
    if (entry.is_regular_file()) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Why documents cannot be checked against `schema` here, or empty when they can.
inline std::string schema_unavailable(const fs::path& schema) {
  if (!fs::is_regular_file(schema)) return "no schema at " + schema.string();
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) return "xmllint is not installed";
  return {};
}

// What xmllint says against `document`, or empty when it validates.
inline std::string schema_errors(const std::string& document, const fs::path& schema) {
  char name[] = "/tmp/tramlix-schema-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return "cannot create a scratch file";
  ::close(fd);
  std::ofstream(name, std::ios::binary | std::ios::trunc) << document;
  const std::string command =
      "xmllint --noout --nonet --schema '" + schema.string() + "' '" + name + "' 2>&1";
  std::string output;
  int status = -1;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      output.append(buffer, n);
    }
    status = pclose(pipe);
  }
  std::remove(name);
  return status == 0 ? std::string() : output.empty() ? "xmllint failed" : output;
}

}  // namespace tramlix::corpus

// The corpus sits beside the repository in the shared workspace; a plain clone lacks it.
#define SKIP_WITHOUT_CORPUS(folder)                                       \
  if (!std::filesystem::is_directory(::tramlix::corpus::kDir / (folder))) \
  GTEST_SKIP() << "no corpus folder at " << ::tramlix::corpus::kDir
