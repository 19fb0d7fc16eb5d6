// The three sport vocabularies: the model's free text, the Sport attribute of a TCX Activity
// (Running, Biking, Other) and the FIT profile's sport enumeration, and the ways between them.
// GPX's <type> is free text like the model's and needs none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tramlix::sport {

// The model's sport for a TCX Sport attribute: trimmed, ASCII lower case, with "biking" as
// "cycling"; any other text is kept in that normalised form.
std::string from_tcx(std::string_view attribute);

// The TCX Sport attribute for the model's sport, compared in any ASCII case, untrimmed. TCX
// names only three sports; a multisport session is a different element altogether, so
// "multisport" is Other too.
std::string_view to_tcx(const std::optional<std::string>& sport);

// The FIT sport for the model's sport, trimmed and in any ASCII case; most texts name none.
std::optional<std::string_view> to_fit(const std::optional<std::string>& sport);

}  // namespace tramlix::sport
