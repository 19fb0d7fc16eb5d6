// The text forms in which the Python binding shows values: floats in representations, and the
// quoted values of error messages. The core's other text forms are its own (src/text.hpp).
#pragma once

#include <string>
#include <string_view>

namespace tramlix {

// The debug form used in Python text representations: plain from 1e-4 below 1e16 with at least
// one fractional digit, exponent form outside ("1e16", "1e-5"); "NaN", "inf", "-inf".
void append_debug_float(std::string& out, double value);

// `text` in double quotes with quotes, backslashes and control characters escaped (\", \\,
// \t, \r, \n, \0, others as \u{1b}): how error messages quote a value they could not use.
std::string quoted(std::string_view text);

}  // namespace tramlix
