// The sport vocabularies of the model, TCX and FIT must agree on what each text names.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "sport.hpp"

namespace tramlix::sport {
namespace {

TEST(Sport, ModelTextToTcxAndFit) {
  struct Case {
    std::optional<std::string> model;
    std::string_view tcx;
    std::optional<std::string_view> fit;
  };
  const Case cases[] = {
      {"running", "Running", "running"},
      {"RUN", "Other", "running"},
      {"Biking", "Biking", "cycling"},
      {"cycling", "Biking", "cycling"},
      {"bike", "Other", "cycling"},
      // FIT trims, TCX compares the text as it is.
      {" Running\u00A0", "Other", "running"},
      {"Multisport", "Other", "multisport"},
      {"Generic", "Other", "generic"},
      {"other", "Other", "generic"},
      {"swimming", "Other", "swimming"},
      {"kayaking", "Other", std::nullopt},
      {"multisports", "Other", std::nullopt},  // longer than any FIT name
      {"", "Other", std::nullopt},
      {"\u00C9", "Other", std::nullopt},
      {std::nullopt, "Other", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::string shown = c.model.value_or("(absent)");
    EXPECT_EQ(to_tcx(c.model), c.tcx) << shown;
    EXPECT_EQ(to_fit(c.model), c.fit) << shown;
  }
}

TEST(Sport, TcxAttributeToModel) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"Running", "running"}, {" Biking\t", "cycling"},     {"BIKING", "cycling"},
      {"Other", "other"},     {"MultiSport", "multisport"}, {"\u00C9t\u00C9", "\u00C9t\u00C9"},
  };
  for (const auto& [attribute, model] : cases) EXPECT_EQ(from_tcx(attribute), model) << attribute;
  // What the reader makes of a TCX sport, the writer writes back as it was.
  for (const std::string_view attribute : {"Running", "Biking", "Other"}) {
    EXPECT_EQ(to_tcx(from_tcx(attribute)), attribute);
  }
}

}  // namespace
}  // namespace tramlix::sport
