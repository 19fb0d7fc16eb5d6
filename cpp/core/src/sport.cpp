#include "sport.hpp"

#include <cstddef>

#include "text.hpp"

namespace tramlix::sport {

std::string from_tcx(std::string_view attribute) {
  std::string sport = ascii_lowered(trim_unicode_whitespace(attribute));
  if (sport == "biking") sport = "cycling";
  return sport;
}

std::string_view to_tcx(const std::optional<std::string>& sport) {
  if (!sport) return "Other";
  const std::string_view text = *sport;
  if (equals_ascii_ci(text, "running")) return "Running";
  if (equals_ascii_ci(text, "cycling") || equals_ascii_ci(text, "biking")) return "Biking";
  return "Other";
}

std::optional<std::string_view> to_fit(const std::optional<std::string>& sport) {
  if (!sport) return std::nullopt;
  const std::string_view trimmed = trim_unicode_whitespace(*sport);
  constexpr std::size_t kLongest = 10;  // "multisport"
  if (trimmed.empty() || trimmed.size() > kLongest) return std::nullopt;
  char lower[kLongest];
  for (std::size_t i = 0; i < trimmed.size(); ++i) lower[i] = ascii_lower(trimmed[i]);
  const std::string_view text(lower, trimmed.size());
  if (text == "run" || text == "running") return "running";
  if (text == "bike" || text == "biking" || text == "cycling") return "cycling";
  if (text == "walk" || text == "walking") return "walking";
  if (text == "hike" || text == "hiking") return "hiking";
  if (text == "swim" || text == "swimming") return "swimming";
  if (text == "other" || text == "generic") return "generic";
  if (text == "rowing") return "rowing";
  if (text == "multisport") return "multisport";
  return std::nullopt;
}

}  // namespace tramlix::sport
