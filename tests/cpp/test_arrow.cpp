// Arrow tables: the layout the builders produce, read back through the exported C structs as a
// consumer reads them, and the ownership rules of the C data and stream interfaces.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tramlix/arrow.hpp"
#include "tramlix/tables.hpp"

namespace tramlix::arrow {
namespace {

// ---- Reading exported structs, as a consumer does ----

bool valid(const ArrowArray& array, std::int64_t row) {
  const auto* bitmap = static_cast<const std::uint8_t*>(array.buffers[0]);
  if (bitmap == nullptr) return true;
  const std::int64_t at = array.offset + row;
  return (bitmap[at / 8] >> (at % 8)) & 1;
}

template <class T>
T value(const ArrowArray& array, std::int64_t row, int buffer = 1) {
  T out;
  std::memcpy(&out, static_cast<const std::byte*>(array.buffers[buffer]) + row * sizeof(T),
              sizeof(T));
  return out;
}

std::string text(const ArrowArray& array, std::int64_t row) {
  const auto* offsets = static_cast<const std::int32_t*>(array.buffers[1]);
  const auto* bytes = static_cast<const char*>(array.buffers[2]);
  return std::string(bytes + offsets[row], bytes + offsets[row + 1]);
}

std::vector<std::pair<std::string, std::string>> metadata(const ArrowSchema& schema) {
  std::vector<std::pair<std::string, std::string>> pairs;
  if (schema.metadata == nullptr) return pairs;
  const char* at = schema.metadata;
  auto next_int = [&] {
    std::int32_t n;
    std::memcpy(&n, at, sizeof n);
    at += sizeof n;
    return n;
  };
  auto next_text = [&] {
    const std::int32_t size = next_int();
    std::string out(at, static_cast<std::size_t>(size));
    at += size;
    return out;
  };
  for (std::int32_t count = next_int(); count > 0; --count) {
    std::string key = next_text();
    pairs.emplace_back(std::move(key), next_text());
  }
  return pairs;
}

std::vector<std::optional<std::int32_t>> int_rows(const ArrowArray& array) {
  std::vector<std::optional<std::int32_t>> rows;
  for (std::int64_t i = 0; i < array.length; ++i) {
    rows.push_back(valid(array, i) ? std::optional(value<std::int32_t>(array, i)) : std::nullopt);
  }
  return rows;
}

std::shared_ptr<const ArrayData> ints(const std::vector<std::optional<std::int32_t>>& rows) {
  Int32Builder builder;
  for (const auto& row : rows) builder.append(row);
  return builder.finish();
}

Table one_column_table(std::vector<std::shared_ptr<const ArrayData>> batches) {
  Schema schema{{Field{"n", TypeId::Int32, true, {{"unit", "m"}}}}, {}};
  std::vector<RecordBatch> parts;
  for (auto& column : batches) parts.push_back({column->length, {std::move(column)}});
  return Table(std::move(schema), std::move(parts));
}

// ---- Layout ----

TEST(ArrowBuilders, ValidityBitmapStartsAtTheFirstNullWhereverItFalls) {
  using Rows = std::vector<std::optional<std::int32_t>>;
  const std::optional<std::int32_t> none;
  Rows nine_then_null{1, 2, 3, 4, 5, 6, 7, 8, 9, none, 11};
  Rows eight_then_null{1, 2, 3, 4, 5, 6, 7, 8, none};
  Rows leading_null{none, 2, 3};
  Rows only_nulls{none, none};
  for (const Rows& rows :
       {Rows{}, Rows{1, 2}, nine_then_null, eight_then_null, leading_null, only_nulls}) {
    const auto data = ints(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(data->is_valid(i), rows[i].has_value());
    ArrowArray array;
    export_array(data, &array);
    EXPECT_EQ(int_rows(array), rows);
    std::int64_t nulls = 0;
    for (const auto& row : rows) nulls += !row;
    EXPECT_EQ(array.null_count, nulls);
    EXPECT_EQ(array.buffers[0] == nullptr, nulls == 0);  // no bitmap when nothing is null
    array.release(&array);
  }
}

TEST(ArrowBuilders, EveryTypeHasItsFormatAndLayout) {
  struct Case {
    DataType type;
    const char* format;
    std::int64_t buffers;
  };
  const Case cases[] = {
      {TypeId::Bool, "b", 2},
      {TypeId::Int8, "c", 2},
      {TypeId::Int16, "s", 2},
      {TypeId::Int32, "i", 2},
      {TypeId::Int64, "l", 2},
      {TypeId::UInt8, "C", 2},
      {TypeId::UInt16, "S", 2},
      {TypeId::UInt32, "I", 2},
      {TypeId::UInt64, "L", 2},
      {TypeId::Float32, "f", 2},
      {TypeId::Float64, "g", 2},
      {TypeId::Utf8, "u", 3},
      {TypeId::Binary, "z", 3},
      {TypeId::Dictionary, "i", 2},
      {timestamp(TimeUnit::Nano, "UTC"), "tsn:UTC", 2},
      {timestamp(TimeUnit::Second), "tss:", 2},
      {timestamp(TimeUnit::Milli), "tsm:", 2},
      {timestamp(TimeUnit::Micro, "UTC"), "tsu:UTC", 2},
      {list(TypeId::Float64), "+l", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    // Every type's builder takes nulls and gives back its own type.
    auto builder = make_builder(c.type);
    builder->append_nulls(2);
    auto column = builder->finish();
    EXPECT_EQ(column->type, c.type);
    EXPECT_EQ(column->null_count, 2);
    EXPECT_EQ(builder->length(), 0);  // finish() leaves it empty
    ArrowArray array;
    export_array(column, &array);
    EXPECT_EQ(array.length, 2);
    ASSERT_EQ(array.n_buffers, c.buffers);
    for (int i = 1; i < c.buffers; ++i) EXPECT_NE(array.buffers[i], nullptr);
    EXPECT_EQ(array.n_children, c.type.id == TypeId::List ? 1 : 0);
    EXPECT_EQ(array.dictionary != nullptr, c.type.id == TypeId::Dictionary);
    array.release(&array);

    ArrowSchema schema;
    export_field(Field{"x", c.type, true, {}}, &schema);
    EXPECT_STREQ(schema.format, c.format);
    EXPECT_EQ(schema.dictionary != nullptr, c.type.id == TypeId::Dictionary);
    EXPECT_EQ(schema.n_children, c.type.id == TypeId::List ? 1 : 0);
    schema.release(&schema);
    EXPECT_EQ(schema.release, nullptr);
  }
}

TEST(ArrowBuilders, NumbersBoolsAndTexts) {
  Float64Builder floats;
  floats.append(-0.0);
  floats.append_null();
  floats.append(std::numeric_limits<double>::quiet_NaN());
  UInt64Builder big;
  big.append(std::numeric_limits<std::uint64_t>::max());
  big.append(std::optional<std::uint64_t>());
  BoolBuilder bools;
  for (int i = 0; i < 10; ++i) bools.append(i % 3 == 0);
  bools.append_null();
  StringBuilder texts;
  texts.append("Škofja Loka");
  texts.append(std::optional<std::string>());
  texts.append("");
  texts.append("x");

  ArrowArray f, u, b, t;
  export_array(floats.finish(), &f);
  export_array(big.finish(), &u);
  export_array(bools.finish(), &b);
  export_array(texts.finish(), &t);
  EXPECT_TRUE(std::signbit(value<double>(f, 0)));
  EXPECT_FALSE(valid(f, 1));
  EXPECT_TRUE(std::isnan(value<double>(f, 2)));
  EXPECT_EQ(value<std::uint64_t>(u, 0), std::numeric_limits<std::uint64_t>::max());
  EXPECT_FALSE(valid(u, 1));
  for (int i = 0; i < 10; ++i) {
    const auto bits = static_cast<const std::uint8_t*>(b.buffers[1]);
    EXPECT_EQ(((bits[i / 8] >> (i % 8)) & 1) == 1, i % 3 == 0) << i;
    EXPECT_TRUE(valid(b, i));
  }
  EXPECT_FALSE(valid(b, 10));
  EXPECT_EQ(t.n_buffers, 3);
  EXPECT_EQ(text(t, 0), "Škofja Loka");
  EXPECT_FALSE(valid(t, 1));
  EXPECT_EQ(text(t, 1), "");  // a null takes no bytes
  EXPECT_EQ(text(t, 2), "");
  EXPECT_TRUE(valid(t, 2));  // the empty text is not a null
  EXPECT_EQ(text(t, 3), "x");
  for (ArrowArray* a : {&f, &u, &b, &t}) a->release(a);
}

TEST(ArrowBuilders, DictionaryKeepsEachTextOnceInFirstAppearanceOrder) {
  DictionaryBuilder sports;
  for (const char* sport : {"running", "cycling", "running", "", "cycling"}) sports.append(sport);
  sports.append_null();
  ArrowArray array;
  export_array(sports.finish(), &array);
  ASSERT_NE(array.dictionary, nullptr);
  ASSERT_EQ(array.dictionary->length, 3);
  EXPECT_EQ(text(*array.dictionary, 0), "running");
  EXPECT_EQ(text(*array.dictionary, 1), "cycling");
  EXPECT_EQ(text(*array.dictionary, 2), "");
  EXPECT_EQ(int_rows(array), (std::vector<std::optional<std::int32_t>>{0, 1, 0, 2, 1, {}}));
  array.release(&array);

  // The next batch starts a dictionary of its own.
  sports.append("swimming");
  export_array(sports.finish(), &array);
  EXPECT_EQ(array.dictionary->length, 1);
  EXPECT_EQ(value<std::int32_t>(array, 0), 0);
  array.release(&array);
}

TEST(ArrowBuilders, ListsOfEmptyNullAndFullRows) {
  ListBuilder lists(std::make_unique<UInt8Builder>());
  auto& items = lists.values_as<UInt8Builder>();
  items.append(1);
  items.append(2);
  lists.append_list();  // [1, 2]
  lists.append_list();  // []
  lists.append_null();  // null
  items.append_null();
  items.append(3);
  lists.append_list();  // [null, 3]
  ArrowArray array;
  export_array(lists.finish(), &array);
  ASSERT_EQ(array.length, 4);
  ASSERT_EQ(array.n_children, 1);
  const auto* offsets = static_cast<const std::int32_t*>(array.buffers[1]);
  EXPECT_EQ(std::vector<std::int32_t>(offsets, offsets + 5), (std::vector{0, 2, 2, 2, 4}));
  EXPECT_EQ(array.null_count, 1);
  EXPECT_FALSE(valid(array, 2));
  const ArrowArray& child = *array.children[0];
  EXPECT_EQ(child.length, 4);
  EXPECT_FALSE(valid(child, 2));
  EXPECT_EQ(value<std::uint8_t>(child, 3), 3);
  array.release(&array);
}

TEST(ArrowTable, RejectsColumnsThatDoNotMatchTheSchema) {
  Schema schema{{Field{"n", TypeId::Int32, false, {}}}, {}};
  auto good = ints({1, 2});
  EXPECT_EQ(Table(schema, {{2, {good}}}).num_rows(), 2);
  EXPECT_THROW(Table(schema, {{3, {good}}}), std::invalid_argument);           // length
  EXPECT_THROW(Table(schema, {{2, {good, good}}}), std::invalid_argument);     // column count
  EXPECT_THROW(Table(schema, {{2, {ints({1, {}})}}}), std::invalid_argument);  // null, not nullable
  Float64Builder floats;
  floats.append(1.0);
  EXPECT_THROW(Table(schema, {{1, {floats.finish()}}}), std::invalid_argument);  // type
}

// ---- Ownership: every export frees what it holds, however it is consumed ----

class ArrowOwnership : public ::testing::Test {
 protected:
  void SetUp() override { before_ = live_allocations(); }
  void TearDown() override { EXPECT_EQ(live_allocations(), before_) << "something leaked"; }

 private:
  std::int64_t before_ = 0;
};

TEST_F(ArrowOwnership, StreamReleasedWithoutBeingRead) {
  ArrowArrayStream stream;
  export_stream(one_column_table({ints({1, 2})}), &stream);
  stream.release(&stream);
  EXPECT_EQ(stream.release, nullptr);
}

TEST_F(ArrowOwnership, OnlyTheSchemaRead) {
  ArrowArrayStream stream;
  export_stream(one_column_table({ints({1, {}})}), &stream);
  ArrowSchema schema;
  ASSERT_EQ(stream.get_schema(&stream, &schema), 0);
  stream.release(&stream);
  // The schema outlives the stream it came from.
  EXPECT_STREQ(schema.format, "+s");
  ASSERT_EQ(schema.n_children, 1);
  EXPECT_STREQ(schema.children[0]->name, "n");
  EXPECT_EQ(schema.children[0]->flags, ARROW_FLAG_NULLABLE);
  EXPECT_EQ(metadata(*schema.children[0]),
            (std::vector<std::pair<std::string, std::string>>{{"unit", "m"}}));
  schema.release(&schema);
}

TEST_F(ArrowOwnership, BatchOutlivesItsStreamAndTable) {
  ArrowArray first;
  {
    ArrowArrayStream stream;
    export_stream(one_column_table({ints({7, {}}), ints({9})}), &stream);
    ASSERT_EQ(stream.get_next(&stream, &first), 0);
    stream.release(&stream);  // the second batch is never read
  }
  ASSERT_NE(first.release, nullptr);
  ASSERT_EQ(first.n_children, 1);
  EXPECT_EQ(int_rows(*first.children[0]), (std::vector<std::optional<std::int32_t>>{7, {}}));
  first.release(&first);
}

TEST_F(ArrowOwnership, StreamReadToTheEndAndPastIt) {
  ArrowArrayStream stream;
  export_stream(one_column_table({ints({1}), ints({2, 3})}), &stream);
  std::vector<std::int64_t> lengths;
  for (int i = 0; i < 4; ++i) {
    ArrowArray batch;
    ASSERT_EQ(stream.get_next(&stream, &batch), 0);
    if (batch.release == nullptr) continue;  // the end, as often as asked
    lengths.push_back(batch.length);
    batch.release(&batch);
  }
  EXPECT_EQ(lengths, (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(stream.get_last_error(&stream), nullptr);
  stream.release(&stream);
}

TEST_F(ArrowOwnership, ChildrenMovedOutLiveOnTheirOwn) {
  // A consumer may take a column out of a batch (and a field out of a schema) and release
  // the parent first.
  Table table = one_column_table({ints({4, 5})});
  ArrowArray batch, column;
  export_batch(table.batches()[0], &batch);
  column = *batch.children[0];
  batch.children[0]->release = nullptr;
  ArrowSchema schema, field;
  export_schema(table.schema(), &schema);
  field = *schema.children[0];
  schema.children[0]->release = nullptr;
  batch.release(&batch);
  schema.release(&schema);
  table = Table();
  EXPECT_EQ(int_rows(column), (std::vector<std::optional<std::int32_t>>{4, 5}));
  EXPECT_STREQ(field.name, "n");
  column.release(&column);
  field.release(&field);
}

TEST_F(ArrowOwnership, ExportedManyTimesFromOneTable) {
  Table table = one_column_table({ints({1, 2, 3})});
  std::vector<ArrowArrayStream> streams(3);
  for (auto& stream : streams) export_stream(table, &stream);
  ArrowArray a, b;
  streams[0].get_next(&streams[0], &a);
  streams[2].get_next(&streams[2], &b);
  EXPECT_EQ(a.children[0]->buffers[1], b.children[0]->buffers[1]);  // shared, not copied
  for (auto& stream : streams) stream.release(&stream);
  table = Table();
  EXPECT_EQ(value<std::int32_t>(*b.children[0], 2), 3);
  a.release(&a);
  b.release(&b);
}

TEST_F(ArrowOwnership, DictionaryAndListExports) {
  DictionaryBuilder names;
  names.append("a");
  ListBuilder lists(std::make_unique<StringBuilder>());
  lists.values_as<StringBuilder>().append("b");
  lists.append_list();
  ArrowArray dictionary, list;
  export_array(names.finish(), &dictionary);
  export_array(lists.finish(), &list);
  // Moving the dictionary out of its array, as some consumers do.
  ArrowArray values = *dictionary.dictionary;
  dictionary.dictionary->release = nullptr;
  dictionary.release(&dictionary);
  EXPECT_EQ(text(values, 0), "a");
  values.release(&values);
  EXPECT_EQ(text(*list.children[0], 0), "b");
  list.release(&list);
}

}  // namespace
}  // namespace tramlix::arrow

// ---- The point table ----

namespace tramlix {
namespace {

TrackPoint full_point() {
  TrackPoint point;
  point.time = UtcInstant{1714550400, 125'000'000};
  point.latitude = 46.05;
  point.longitude = -14.5;
  point.elevation_m = -3.5;
  point.distance_m = 1500.25;
  point.heart_rate_bpm = 65535;
  point.cadence_rpm = 90;
  point.speed_mps = 3.75;
  point.power_watts = 250;
  point.temperature_c = -40;
  return point;
}

Activity activity_of(std::vector<Segment> segments) {
  Activity activity;
  activity.segments = std::move(segments);
  return activity;
}

TEST(PointTable, SchemaInOrderWithUnits) {
  const arrow::Schema& schema = point_schema();
  std::vector<std::string> names;
  for (const auto& field : schema.fields) names.push_back(field.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"activity", "segment", "time", "latitude", "longitude",
                                      "elevation_m", "distance_m", "heart_rate_bpm", "cadence_rpm",
                                      "power_watts", "speed_mps", "temperature_c"}));
  EXPECT_EQ(schema.fields[2].type, arrow::timestamp(arrow::TimeUnit::Nano, "UTC"));
  EXPECT_FALSE(schema.fields[0].nullable);
  EXPECT_EQ(schema.fields[9].type, arrow::TypeId::UInt16);
  EXPECT_EQ(schema.fields[9].metadata, (arrow::Metadata{{"unit", "W"}}));
  EXPECT_EQ(schema.fields[11].type, arrow::TypeId::Int16);
}

TEST(PointTable, RowsFollowActivitiesAndSegments) {
  const TrackPoint full = full_point();
  TrackPoint empty;
  // Times that 64-bit nanoseconds cannot hold are null; a leap second counts into the next.
  TrackPoint far, leap;
  far.time = UtcInstant{10'000'000'000, 0};
  leap.time = UtcInstant{1483228799, 1'500'000'000};
  ActivityFile file;
  file.activities.push_back(activity_of({Segment{{full}}, Segment{}, Segment{{empty}}}));
  file.activities.push_back(Activity{});
  file.activities.push_back(activity_of({Segment{{far, leap}}}));
  const arrow::Table table = point_table(file);
  ASSERT_EQ(table.num_rows(), 4);
  ASSERT_EQ(table.batches().size(), 1u);

  ArrowArray batch;
  arrow::export_batch(table.batches()[0], &batch);
  auto column = [&](int i) -> const ArrowArray& { return *batch.children[i]; };
  auto u32 = [&](int i) {
    std::vector<std::uint32_t> out;
    for (int row = 0; row < 4; ++row) out.push_back(arrow::value<std::uint32_t>(column(i), row));
    return out;
  };
  EXPECT_EQ(u32(0), (std::vector<std::uint32_t>{0, 0, 2, 2}));
  EXPECT_EQ(u32(1), (std::vector<std::uint32_t>{0, 2, 0, 0}));
  EXPECT_EQ(arrow::value<std::int64_t>(column(2), 0), 1714550400'125'000'000);
  EXPECT_FALSE(arrow::valid(column(2), 1));
  EXPECT_FALSE(arrow::valid(column(2), 2));
  EXPECT_EQ(arrow::value<std::int64_t>(column(2), 3), 1483228800'500'000'000);
  EXPECT_EQ(arrow::value<double>(column(4), 0), -14.5);
  EXPECT_EQ(arrow::value<double>(column(6), 0), 1500.25);
  EXPECT_EQ(arrow::value<std::uint16_t>(column(7), 0), 65535);
  EXPECT_EQ(arrow::value<std::uint16_t>(column(9), 0), 250);
  EXPECT_EQ(arrow::value<double>(column(10), 0), 3.75);
  EXPECT_EQ(arrow::value<std::int16_t>(column(11), 0), -40);
  for (int i = 3; i < 12; ++i) {
    EXPECT_TRUE(arrow::valid(column(i), 0)) << i;
    EXPECT_FALSE(arrow::valid(column(i), 1)) << i;
  }
  batch.release(&batch);

  // An activity alone is activity 0.
  const arrow::Table one = point_table(file.activities[2]);
  arrow::export_batch(one.batches()[0], &batch);
  EXPECT_EQ(batch.length, 2);
  EXPECT_EQ(arrow::value<std::uint32_t>(*batch.children[0], 1), 0u);
  batch.release(&batch);
}

TEST(PointTable, EmptyFileIsOneEmptyBatch) {
  const arrow::Table table = point_table(ActivityFile{});
  ASSERT_EQ(table.batches().size(), 1u);
  ArrowArray batch;
  arrow::export_batch(table.batches()[0], &batch);
  EXPECT_EQ(batch.length, 0);
  EXPECT_EQ(batch.n_children, 12);
  for (int i = 0; i < 12; ++i) EXPECT_NE(batch.children[i]->buffers[1], nullptr);
  batch.release(&batch);
}

}  // namespace
}  // namespace tramlix
