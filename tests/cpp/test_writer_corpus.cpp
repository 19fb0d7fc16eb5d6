// What the XML writers make of every real file: documents the published schemas accept, holding
// every point but those counted as left out.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "corpus.hpp"
#include "gpx/gpx.hpp"
#include "tcx/tcx.hpp"
#include "tramlix/io.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix {
namespace {

std::size_t occurrences(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

TEST(WriterCorpus, GpxAndTcxOfEveryFileValidate) {
  SKIP_WITHOUT_CORPUS("fit");
  std::vector<std::string> paths, gpx_documents, tcx_documents;
  for (const char* folder : {"fit", "fit/invalid", "gpx", "tcx"}) {
    for (const auto& path : corpus::files(folder)) {
      const auto file = load(path.string());
      if (!file) continue;  // not an activity, or broken on purpose
      paths.push_back(path.filename().string());
      Omissions gpx_omitted, tcx_omitted;
      gpx_documents.push_back(gpx::write(*file, &gpx_omitted));
      tcx_documents.push_back(tcx::write(*file, &tcx_omitted));
      // GPX leaves out only points without a position, TCX only those without a time.
      const std::size_t points = file->point_count();
      EXPECT_EQ(occurrences(gpx_documents.back(), "<trkpt "),
                points - gpx_omitted[Omission::PointWithoutPosition])
          << paths.back();
      EXPECT_EQ(occurrences(tcx_documents.back(), "<Trackpoint>"),
                points - tcx_omitted[Omission::PointWithoutTime])
          << paths.back();
    }
  }
  EXPECT_GE(paths.size(), 45u);
  for (const auto& [documents, schema] : {std::pair{&gpx_documents, "gpx-1.1.xsd"},
                                          {&tcx_documents, "TrainingCenterDatabasev2.xsd"}}) {
    const auto xsd = corpus::kDir / "xsd" / schema;
    if (const std::string why = corpus::schema_unavailable(xsd); !why.empty()) GTEST_SKIP() << why;
    const std::vector<std::string> errors = corpus::schema_errors(*documents, xsd);
    for (std::size_t i = 0; i < errors.size(); ++i) EXPECT_EQ(errors[i], "") << paths[i];
  }
}

}  // namespace
}  // namespace tramlix
