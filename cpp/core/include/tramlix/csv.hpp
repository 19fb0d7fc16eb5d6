// Tables as CSV text (RFC 4180), for the spreadsheets and tools that take nothing else.
#pragma once

#include <cstdint>
#include <string>

#include "tramlix/arrow.hpp"

namespace tramlix::arrow {

// The header line: the field names, comma-separated.
void append_csv_header(std::string& out, const Schema& schema);

// Rows [begin, end) of `batch`, a batch of a table with `schema`, one line each, ending in "\n". A
// null is an empty field and an empty text is "" (quoted), so the two stay apart; a text holding a
// comma, a double quote or a line break is quoted, its double quotes doubled. Numbers have their
// shortest round-trip digits ("52.0", "1e16", "NaN", "inf"), times RFC 3339 in UTC ending in "Z".
// Throws std::invalid_argument for a column CSV cannot hold (lists, binary).
void append_csv_rows(std::string& out, const Schema& schema, const RecordBatch& batch,
                     std::int64_t begin, std::int64_t end);

}  // namespace tramlix::arrow
