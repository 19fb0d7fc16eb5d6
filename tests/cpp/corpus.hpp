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

// What xmllint says against each of `documents`, in order: empty for one that validates. All
// are checked by one xmllint run, which costs about what checking one does.
inline std::vector<std::string> schema_errors(const std::vector<std::string>& documents,
                                              const fs::path& schema) {
  std::vector<std::string> errors(documents.size());
  char folder[] = "/tmp/tramlix-schema-XXXXXX";
  if (documents.empty()) return errors;
  if (!mkdtemp(folder)) {
    std::fill(errors.begin(), errors.end(), "cannot create a scratch folder");
    return errors;
  }
  std::string command = "xmllint --noout --nonet --schema '" + schema.string() + "'";
  std::vector<std::string> names;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    names.push_back(std::string(folder) + "/" + std::to_string(i) + ".xml");
    std::ofstream(names.back(), std::ios::binary | std::ios::trunc) << documents[i];
    command += " '" + names.back() + "'";
  }
  command += " 2>&1";
  std::string output;
  int status = -1;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      output.append(buffer, n);
    }
    status = pclose(pipe);
  }
  // Every line xmllint writes starts with the file it is about; "validates" is the good news.
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string_view line(output.data() + start, end - start);
    start = end + 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (line.starts_with(names[i]) && line != names[i] + " validates") {
        errors[i].append(line).append("\n");
      }
    }
  }
  if (status != 0 &&
      std::all_of(errors.begin(), errors.end(), [](const std::string& e) { return e.empty(); })) {
    errors.assign(documents.size(), output.empty() ? "xmllint failed" : output);
  }
  fs::remove_all(folder);
  return errors;
}

// What xmllint says against `document`, or empty when it validates.
inline std::string schema_errors(const std::string& document, const fs::path& schema) {
  return schema_errors(std::vector<std::string>{document}, schema).front();
}

}  // namespace tramlix::corpus

// The corpus sits beside the repository in the shared workspace; a plain clone lacks it.
#define SKIP_WITHOUT_CORPUS(folder)                                       \
  if (!std::filesystem::is_directory(::tramlix::corpus::kDir / (folder))) \
  GTEST_SKIP() << "no corpus folder at " << ::tramlix::corpus::kDir
