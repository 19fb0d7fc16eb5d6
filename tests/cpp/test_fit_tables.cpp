// Message table columns: one Arrow type per column whatever kinds of value its fields decode to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fit_tables/columns.hpp"

namespace tramlix::fit_tables {
namespace {

using arrow::TypeId;
using fit::EnumName;
using fit::Invalid;
using fit::Value;
using fit::ValueArray;

fit::Field field(Value value, std::uint8_t number = 3) {
  fit::Field f;
  f.name = "x";
  f.number = number;
  f.value = std::move(value);
  return f;
}

ColumnShape shape(Kind kind, TypeId width = TypeId::Int64, bool list = false) {
  ColumnShape s;
  s.name = "x";
  s.kind = kind;
  s.width = width;
  s.list = list;
  s.profile = kind != Kind::Unset;
  s.number = 3;
  return s;
}

// Each row as text: "-" for null, values joined by "," in a list.
std::vector<std::string> cells(const arrow::ArrayData& data) {
  std::vector<std::string> out;
  const auto one = [&](const arrow::ArrayData& array, std::int64_t i) -> std::string {
    if (!array.is_valid(i)) return "-";
    const std::byte* values = array.buffers[1].data();
    switch (array.type.id) {
      case TypeId::UInt8:
        return std::to_string(reinterpret_cast<const std::uint8_t*>(values)[i]);
      case TypeId::Int64:
      case TypeId::Timestamp:
        return std::to_string(reinterpret_cast<const std::int64_t*>(values)[i]);
      case TypeId::UInt64:
        return std::to_string(reinterpret_cast<const std::uint64_t*>(values)[i]);
      case TypeId::Float64:
        return std::to_string(reinterpret_cast<const double*>(values)[i]);
      case TypeId::Dictionary: {
        const auto index = reinterpret_cast<const std::int32_t*>(values)[i];
        const arrow::ArrayData& dictionary = *array.dictionary;
        const auto* offsets = reinterpret_cast<const std::int32_t*>(dictionary.buffers[1].data());
        const char* text = reinterpret_cast<const char*>(dictionary.buffers[2].data());
        return std::string(text + offsets[index], text + offsets[index + 1]);
      }
      default:
        return "?";
    }
  };
  for (std::int64_t row = 0; row < data.length; ++row) {
    if (data.type.id != TypeId::List) {
      out.push_back(one(data, row));
      continue;
    }
    if (!data.is_valid(row)) {
      out.push_back("-");
      continue;
    }
    const auto* offsets = reinterpret_cast<const std::int32_t*>(data.buffers[1].data());
    std::string joined;
    for (std::int32_t i = offsets[row]; i < offsets[row + 1]; ++i) {
      joined += (i == offsets[row] ? "" : ",") + one(*data.children[0], i);
    }
    out.push_back(joined);
  }
  return out;
}

struct Case {
  std::string_view what;
  ColumnShape shape;
  std::vector<std::vector<fit::Field>> rows;  // the fields of each row
  TypeId type;
  std::vector<std::string> expected;
};

TEST(FitTables, ColumnsKeepOneTypeForEveryKindOfValue) {
  const auto u = [](std::uint64_t v) { return field(Value(v)); };
  const auto expanded = [](double v) { return field(Value(v), 0); };
  const std::vector<Case> cases = {
      {"an integer that outgrows the profile's width widens the column",
       shape(Kind::UInt, TypeId::UInt8),
       {{u(7)}, {}, {u(300)}},
       TypeId::UInt64,
       {"7", "-", "300"}},
      {"values within the width keep it; invalid is null",
       shape(Kind::UInt, TypeId::UInt8),
       {{u(7)}, {field(Invalid{})}},
       TypeId::UInt8,
       {"7", "-"}},
      {"a fraction makes an integer column float64",
       shape(Kind::UInt, TypeId::UInt8),
       {{u(2)}, {field(Value(2.5))}},
       TypeId::Float64,
       {"2.000000", "2.500000"}},
      {"negative and beyond 2^63 at once: float64",
       shape(Kind::Int, TypeId::Int8),
       {{field(Value(std::int64_t{-1}))}, {u(1ull << 63)}},
       TypeId::Float64,
       {"-1.000000", "9223372036854775808.000000"}},
      {"an unnamed enumeration value is its number as text",
       shape(Kind::Name),
       {{field(Value(EnumName::borrowed("running")))}, {u(37)}},
       TypeId::Dictionary,
       {"running", "37"}},
      {"text in a number column is null",
       shape(Kind::Float),
       {{field(Value(std::string("fast")))}, {field(Value(1.5))}},
       TypeId::Float64,
       {"-", "1.500000"}},
      {"an array in a scalar column makes it a list",
       shape(Kind::UInt, TypeId::UInt8),
       {{u(1)}, {field(Value(ValueArray{Value(2ull), Invalid{}}))}},
       TypeId::List,
       {"1", "2,-"}},
      {"a profile array holds every value a message gives it",
       shape(Kind::Float, TypeId::Int64, true),
       {{expanded(1.0), expanded(2.0)}, {}},
       TypeId::List,
       {"1.000000,2.000000", "-"}},
      {"the field's own value wins over a component's, whichever comes first",
       shape(Kind::Float),
       {{field(Value(5.0)), expanded(1.0)}, {expanded(1.0), field(Value(6.0))}},
       TypeId::Float64,
       {"5.000000", "6.000000"}},
      {"nulls on both sides of a validity byte's edge, and rows after the last value",
       shape(Kind::UInt, TypeId::UInt8),
       {{u(1)}, {}, {}, {u(3)}, {}, {}, {}, {}, {field(Invalid{})}, {u(9)}, {}},
       TypeId::UInt8,
       {"1", "-", "-", "3", "-", "-", "-", "-", "-", "9", "-"}},
      {"fields the profile does not describe take the kind of their first value",
       shape(Kind::Unset),
       {{}, {field(Value(std::int64_t{-4}))}, {u(4)}},
       TypeId::Int64,
       {"-", "-4", "4"}},
  };
  for (const Case& c : cases) {
    Column column(c.shape);
    for (std::uint32_t row = 0; row < c.rows.size(); ++row) {
      for (const fit::Field& f : c.rows[row]) column.add(row, f);
    }
    const auto data = column.finish(static_cast<std::uint32_t>(c.rows.size()));
    EXPECT_EQ(data->type.id, c.type) << c.what;
    EXPECT_EQ(cells(*data), c.expected) << c.what;
    EXPECT_EQ(data->null_count, std::ranges::count(c.expected, "-")) << c.what;
  }
}

TEST(FitTables, NamesInNumberColumnsAreTheirNumbers) {
  ColumnShape index = shape(Kind::UInt, TypeId::UInt8);
  index.type = fit::profile::type_info("device_index");
  ColumnShape weight = shape(Kind::Float);
  weight.type = fit::profile::type_info("weight");
  weight.scaled = true;
  Column indices(index), weights(weight);
  indices.add(0, field(Value(EnumName::borrowed("creator"))));
  indices.add(1, field(Value(std::uint64_t{2})));
  weights.add(0, field(Value(EnumName::borrowed("calculating"))));
  weights.add(1, field(Value(75.5)));
  EXPECT_EQ(cells(*indices.finish(2)), (std::vector<std::string>{"0", "2"}));
  EXPECT_EQ(cells(*weights.finish(2)), (std::vector<std::string>{"-", "75.500000"}));
}

}  // namespace
}  // namespace tramlix::fit_tables
