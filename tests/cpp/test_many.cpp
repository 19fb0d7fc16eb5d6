// Many files: zip archives read member by member, folders walked, the ordered pool, and the
// tables and CSV built from many files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "gzip.hpp"
#include "text.hpp"
#include "tramlix/csv.hpp"
#include "tramlix/io.hpp"
#include "tramlix/many.hpp"
#include "tramlix/tables.hpp"
#include "zip.hpp"

namespace tramlix {
namespace {

namespace fs = std::filesystem;

// ---- Archives written here, byte by byte ----

void put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>(value >> 8 & 0xff);
}
void put32(std::string& out, std::uint32_t value) {
  put16(out, value & 0xffff);
  put16(out, value >> 16);
}
void put64(std::string& out, std::uint64_t value) {
  put32(out, static_cast<std::uint32_t>(value));
  put32(out, static_cast<std::uint32_t>(value >> 32));
}

std::string raw_deflate(std::string_view data) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

struct Entry {
  Entry(std::string name, std::string data, std::uint16_t method = 8, std::uint16_t flags = 0,
        std::optional<std::uint32_t> size = {}, std::optional<std::uint32_t> crc = {})
      : name(std::move(name)),
        data(std::move(data)),
        method(method),
        flags(flags),
        size(size),
        crc(crc) {}

  std::string name;
  std::string data;
  std::uint16_t method = 8;
  std::uint16_t flags = 0;
  // What the central directory claims, when it is to lie: the size and the CRC.
  std::optional<std::uint32_t> size;
  std::optional<std::uint32_t> crc;
};

// An archive of `entries`; with `zip64`, sizes and offsets go in zip64 extra fields behind
// 0xFFFFFFFF markers and a zip64 end record comes before the classic one.
std::string archive(const std::vector<Entry>& entries, bool zip64 = false,
                    std::string_view comment = "") {
  std::string out = "leading bytes a self-extractor might have";
  std::string directory;
  for (const Entry& entry : entries) {
    const std::string packed = entry.method == 8 ? raw_deflate(entry.data) : entry.data;
    const std::uint32_t crc =
        entry.crc.value_or(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                 static_cast<uInt>(entry.data.size())));
    const std::uint32_t size = entry.size.value_or(static_cast<std::uint32_t>(entry.data.size()));
    const std::uint64_t offset = out.size();
    put32(out, 0x04034b50);
    put16(out, 20), put16(out, entry.flags), put16(out, entry.method), put32(out, 0);
    put32(out, crc), put32(out, static_cast<std::uint32_t>(packed.size())), put32(out, size);
    put16(out, static_cast<std::uint32_t>(entry.name.size())), put16(out, 4);
    out += entry.name;
    out += std::string("\xfe\xca\0\0", 4);  // an extra field of no interest
    out += packed;

    std::string extra;
    if (zip64) {
      put16(extra, 1), put16(extra, 24), put64(extra, size), put64(extra, packed.size());
      put64(extra, offset);
    }
    const std::uint32_t wide = 0xFFFFFFFF;
    put32(directory, 0x02014b50);
    put16(directory, 45), put16(directory, 45), put16(directory, entry.flags);
    put16(directory, entry.method), put32(directory, 0), put32(directory, crc);
    put32(directory, zip64 ? wide : static_cast<std::uint32_t>(packed.size()));
    put32(directory, zip64 ? wide : size);
    put16(directory, static_cast<std::uint32_t>(entry.name.size()));
    put16(directory, static_cast<std::uint32_t>(extra.size())), put16(directory, 0);
    put16(directory, 0), put16(directory, 0), put32(directory, 0);
    put32(directory, zip64 ? wide : static_cast<std::uint32_t>(offset));
    directory += entry.name;
    directory += extra;
  }
  const std::uint64_t directory_offset = out.size();
  out += directory;
  if (zip64) {
    const std::uint64_t record = out.size();
    put32(out, 0x06064b50), put64(out, 44), put16(out, 45), put16(out, 45), put32(out, 0);
    put32(out, 0), put64(out, entries.size()), put64(out, entries.size());
    put64(out, directory.size()), put64(out, directory_offset);
    put32(out, 0x07064b50), put32(out, 0), put64(out, record), put32(out, 1);
  }
  put32(out, 0x06054b50), put16(out, 0), put16(out, 0);
  put16(out, zip64 ? 0xFFFF : static_cast<std::uint32_t>(entries.size()));
  put16(out, zip64 ? 0xFFFF : static_cast<std::uint32_t>(entries.size()));
  put32(out, static_cast<std::uint32_t>(directory.size()));
  put32(out, zip64 ? 0xFFFFFFFF : static_cast<std::uint32_t>(directory_offset));
  put16(out, static_cast<std::uint32_t>(comment.size()));
  out += comment;
  return out;
}

// A scratch folder, removed with everything in it.
class Scratch : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/tramlix-many-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& relative, std::string_view bytes) {
    const fs::path path = dir_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  std::string path(const std::string& relative) const { return (dir_ / relative).string(); }

  fs::path dir_;
};

std::string member_text(const ArchiveMember& member, std::size_t max_output = gzip::kMaxOutput) {
  auto bytes = zip::read_member(member, max_output);
  if (!bytes) return "error: " + bytes.error().display();
  return {reinterpret_cast<const char*>(bytes->data.get()), bytes->size};
}

std::string directory_error(const std::string& path) {
  auto members = zip::read_directory(path);
  return members ? "no error" : members.error().display();
}

using ZipArchive = Scratch;

TEST_F(ZipArchive, StoredDeflatedAndZip64MembersReadBack) {
  const std::string big(100'000, 'x');  // deflates far below its size
  const std::vector<Entry> entries = {
      {"a.gpx", "<gpx/>", 0}, {"sub/b.fit", big, 8}, {"empty.tcx", "", 8}, {"dir/", "", 0}};
  for (const bool zip64 : {false, true}) {
    const std::string file = write(zip64 ? "64.zip" : "32.zip", archive(entries, zip64, "hi"));
    auto members = zip::read_directory(file);
    ASSERT_TRUE(members) << members.error().display();
    ASSERT_EQ(members->size(), 4u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ((*members)[i].name, entries[i].name);
      EXPECT_EQ((*members)[i].archive, file);
      EXPECT_EQ(member_text((*members)[i]), entries[i].data) << entries[i].name;
    }
  }
}

TEST_F(ZipArchive, DamageIsAnErrorNamingIt) {
  const std::string good = archive({{"a.gpx", "<gpx>some text</gpx>", 8}});
  struct Case {
    std::string bytes;
    std::string message;
  };
  std::string spanned = good;
  spanned[spanned.size() - 18] = 1;  // the number of this disk
  std::string bad_directory = good;
  bad_directory[bad_directory.find("PK\x01\x02")] = 'Q';
  const std::vector<Case> cases = {
      {"", "invalid zip data: not a zip archive: it has no end of central directory"},
      {"just some text, long enough to hold a record of twenty-two bytes",
       "invalid zip data: not a zip archive"},
      {good.substr(good.find("PK\x01\x02")), "invalid zip data: the archive is cut short"},
      {spanned, "invalid zip data: archives split over several files are not supported"},
      {bad_directory, "invalid zip data: the central directory is damaged"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(directory_error(write("case.zip", c.bytes)).starts_with(c.message))
        << directory_error(path("case.zip"));
  }
  EXPECT_TRUE(directory_error(path("missing.zip")).starts_with("cannot read or write "));
}

TEST_F(ZipArchive, MembersThatDoNotMatchTheirDirectoryAreErrors) {
  const std::string text = "<gpx>" + std::string(5000, 'y') + "</gpx>";
  struct Case {
    Entry entry;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"e.gpx", text, 8, 1}, "invalid zip data: encrypted members are not supported"},
      {{"m.gpx", text, 12}, "invalid zip data: compression method 12 is not supported"},
      {{"c.gpx", text, 8, 0, std::nullopt, 1234}, "invalid zip data: the member is damaged"},
      {{"s.gpx", text, 8, 0, 100}, "invalid zip data: the member inflates to more than the 100"},
      {{"l.gpx", text, 8, 0, 9000}, "invalid zip data: the member inflates to 5011 bytes, not"},
      {{"t.gpx", text, 0, 0, 10}, "invalid zip data: a stored member's sizes disagree"},
  };
  for (const Case& c : cases) {
    auto members = zip::read_directory(write(c.entry.name + ".zip", archive({c.entry})));
    ASSERT_TRUE(members) << members.error().display();
    EXPECT_TRUE(member_text(members->at(0)).starts_with("error: " + c.message))
        << member_text(members->at(0));
  }
  // Corrupt deflate data, and data cut off before the directory ends the file.
  std::string corrupt = archive({{"x.gpx", text, 8}});
  const std::size_t data = corrupt.find("x.gpx") + 9;
  corrupt.replace(data, 4, "\xff\xff\xff\xff");
  auto members = zip::read_directory(write("corrupt.zip", corrupt));
  ASSERT_TRUE(members);
  EXPECT_TRUE(
      member_text(members->at(0)).starts_with("error: invalid zip data: the member's data"));
  // The bound holds whatever the archive claims.
  auto bounded = zip::read_directory(write("big.zip", archive({{"b.gpx", text, 8}})));
  ASSERT_TRUE(bounded);
  EXPECT_EQ(member_text(bounded->at(0), 1000),
            "error: invalid zip data: the member's uncompressed size exceeds the limit of 0 MiB");
}

// ---- Listing ----

std::vector<std::string> names(const Listing& listing) {
  std::vector<std::string> out;
  for (const Source& source : listing.sources) out.push_back(source.name);
  return out;
}

Listing listed(std::vector<std::string> paths) {
  std::vector<RequestedSource> requests;
  for (std::string& path : paths) requests.push_back({std::move(path), std::nullopt});
  return list_sources(requests);
}

TEST(ActivityFileNames, KnownExtensionsAndTheirGzipFormsInAnyCase) {
  for (const char* name : {"a.fit", "a.FIT", "b.Gpx", "c.tcx", "d.fit.gz", "e.GPX.GZ", "x.y.tcx"}) {
    EXPECT_TRUE(is_activity_file_name(name)) << name;
  }
  for (const char* name : {"fit", ".gz", "a.gz", "a.fits", "a.fit.zip", "a.kml", "a.gpx.gz.gz"}) {
    EXPECT_FALSE(is_activity_file_name(name)) << name;
  }
}

using Listings = Scratch;

TEST_F(Listings, FoldersGiveTheirActivityFilesSortedByPath) {
  for (const char* name : {"b.fit", "a/z.GPX", "a.fit", "a/b/c.tcx.gz", "notes.txt", "x.zip",
                           "A.Fit", "a-b.gpx", "é.gpx"}) {
    write(name, "data");
  }
  fs::create_directory_symlink(dir_ / "a", dir_ / "a" / "b" / "loop");
  fs::create_directory_symlink(dir_ / "a" / "b", dir_ / "z");  // "a/b" comes first
  fs::create_symlink(dir_ / "b.fit", dir_ / "link.fit");
  fs::create_symlink(dir_ / "gone.fit", dir_ / "dangling.fit");
  ::mkfifo(path("pipe.gpx").c_str(), 0600);  // never opened: reading it would block
  const std::string root = dir_.string();
  const Listing listing = listed({root});
  // Byte order of the whole path: "a-b" < "a.fit" < "a/..." ('-' < '.' < '/').
  const std::vector<std::string> expected = {
      root + "/A.Fit",   root + "/a-b.gpx", root + "/a.fit",    root + "/a/b/c.tcx.gz",
      root + "/a/z.GPX", root + "/b.fit",   root + "/link.fit", root + "/é.gpx"};
  EXPECT_EQ(names(listing), expected);
  EXPECT_TRUE(listing.empty.empty());
  // A trailing slash is not doubled; the folder's own files keep the spelling given.
  EXPECT_EQ(names(listed({root + "/a/"})),
            (std::vector<std::string>{root + "/a/b/c.tcx.gz", root + "/a/z.GPX"}));
}

TEST_F(Listings, ArchivesGiveTheirActivityMembersAndNamesComeBack) {
  const std::string zip = write("export.ZIP", archive({{"z/2.fit.gz", "two"},
                                                       {"notes.txt", "no"},
                                                       {"__MACOSX/._1.gpx", "x"},
                                                       {"1.gpx", "one", 0},
                                                       {"folder/", ""},
                                                       {"odd.dat", "?"}}));
  const Listing listing = listed({zip});
  EXPECT_EQ(names(listing), (std::vector<std::string>{zip + "/1.gpx", zip + "/z/2.fit.gz"}));
  // Each name given back is that member again; a member named so is read whatever its name.
  const Listing again = listed({zip + "/z/2.fit.gz", zip + "/odd.dat", zip + "/missing.fit"});
  ASSERT_EQ(again.sources.size(), 3u);
  EXPECT_EQ(std::get<ArchiveMember>(again.sources[0].what).name, "z/2.fit.gz");
  EXPECT_EQ(member_text(std::get<ArchiveMember>(again.sources[1].what)), "?");
  const auto& missing = std::get<Source::Failed>(again.sources[2].what).error;
  EXPECT_EQ(missing.display(),
            "cannot read or write " + zip + "/missing.fit: No such file or directory");
}

TEST_F(Listings, EveryNameHasItsPlaceAndNothingIsLost) {
  write("empty/readme.txt", "");
  const std::string damaged = write("damaged.zip", "not an archive at all, no, not at all");
  const std::string file = write("data.bin", "whatever");
  const std::string bytes_text = "<gpx/>";
  const std::span<const std::uint8_t> bytes(
      reinterpret_cast<const std::uint8_t*>(bytes_text.data()), bytes_text.size());
  const std::vector<RequestedSource> requests = {
      {path("empty"), std::nullopt}, {damaged, std::nullopt},
      {file, std::nullopt},          {path("missing.fit"), std::nullopt},
      {"given name", bytes},         {write("quiet.zip", archive({{"a.txt", "x"}})), {}}};
  const Listing listing = list_sources(requests);
  EXPECT_EQ(names(listing),
            (std::vector<std::string>{damaged, file, path("missing.fit"), "given name"}));
  EXPECT_EQ(listing.empty, (std::vector<std::size_t>{0, 5}));
  EXPECT_TRUE(std::holds_alternative<Source::Failed>(listing.sources[0].what));
  EXPECT_TRUE(std::holds_alternative<Source::File>(listing.sources[1].what));
  EXPECT_TRUE(std::holds_alternative<Source::File>(listing.sources[2].what));
  EXPECT_TRUE(std::holds_alternative<Source::Bytes>(listing.sources[3].what));
  // Loading each gives what load() and loads() give.
  EXPECT_EQ(load(listing.sources[2]).error(), load(path("missing.fit")).error());
  EXPECT_EQ(load(listing.sources[3]).error(), loads(bytes).error());
}

// ---- The ordered pool ----

TEST(OrderedPool, ResultsComeInOrderWithinTheWindow) {
  for (const unsigned workers : {1u, 3u, 8u}) {
    constexpr std::size_t kCount = 200;
    std::atomic<std::size_t> started{0};
    std::atomic<std::size_t> taken{0};
    std::atomic<std::size_t> widest{0};
    OrderedPool<std::size_t> pool(
        kCount, workers,
        [&](std::size_t i) {
          // How far ahead of the consumer the pool works: never more than the window.
          const std::size_t ahead = ++started - taken.load();
          std::size_t seen = widest.load();
          while (ahead > seen && !widest.compare_exchange_weak(seen, ahead)) {
          }
          if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
          if (i % 50 == 13) throw std::runtime_error("fault " + std::to_string(i));
          return i * i;
        },
        2 * workers);
    for (std::size_t i = 0; i < kCount; ++i) {
      if (i % 50 == 13) {
        EXPECT_THROW(pool.take(), std::runtime_error);
      } else {
        EXPECT_EQ(pool.take(), i * i);
      }
      ++taken;
    }
    EXPECT_TRUE(pool.finished());
    EXPECT_TRUE(pool.ready(std::chrono::milliseconds(0)));
    EXPECT_LE(widest.load(), 2 * workers + 1) << workers;  // +1: taken counts after take()
  }
}

TEST(OrderedPool, StopsEarlyWhenDropped) {
  std::atomic<std::size_t> done{0};
  {
    OrderedPool<int> pool(1000, 2, [&](std::size_t) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ++done;
      return 0;
    });
    pool.take();
  }
  EXPECT_LT(done.load(), 10u);  // the window, not the thousand
  OrderedPool<int> none(0, 4, [](std::size_t) -> int { throw std::logic_error("never"); });
  EXPECT_TRUE(none.finished());
}

// ---- Tables of many files ----

TrackPoint point(std::int64_t seconds, std::optional<double> latitude) {
  TrackPoint p;
  p.time = UtcInstant{seconds, 0};
  p.latitude = latitude;
  p.longitude = latitude ? std::optional<double>(14.0) : std::nullopt;
  p.heart_rate_bpm = 120;
  return p;
}

ActivityFile two_activities() {
  ActivityFile file;
  Activity run;
  run.name = "Run, \"fast\"";
  run.sport = "running";
  run.segments = {{{point(1'700'000'000, 46.0), point(1'700'000'060, 46.001)}}};
  Activity bare;  // no points: no time, no bounds
  file.activities = {run, bare};
  file.device_info = DeviceInfo{};
  file.device_info->manufacturer = "garmin";
  file.device_info->product = "fenix5";
  return file;
}

template <class T>
T cell(const arrow::Table& table, std::size_t column, std::int64_t row) {
  const arrow::ArrayData& data = *table.batches().at(0).columns.at(column);
  return data.buffers[1].as<T>()[row];
}

TEST(SummaryTable, RowsHoldTheActivityFiguresAndFailuresTheirError) {
  SummaryTableBuilder builder;
  const ActivityFile file = two_activities();
  builder.add("first.fit", figures_of(file));
  builder.add_failure("broken.gpx", "invalid GPX data: oops");
  const arrow::Table table = builder.finish();
  ASSERT_EQ(table.num_rows(), 3);
  EXPECT_EQ(table.schema(), summary_schema());
  std::string csv;
  arrow::append_csv_header(csv, table.schema());
  arrow::append_csv_rows(csv, table.schema(), table.batches()[0], 0, 3);
  const Activity& run = file.activities[0];
  const MovingData moving = run.moving_data(1.0);
  std::string distance, max_speed;
  append_number(distance, run.distance_meters());
  append_number(max_speed, moving.max_speed_mps);
  EXPECT_EQ(csv,
            "source,activity,sport,sub_sport,name,start_time,end_time,duration_seconds,"
            "distance_meters,moving_time_seconds,stopped_time_seconds,elevation_gain_meters,"
            "elevation_loss_meters,average_heart_rate_bpm,max_speed_mps,points,min_latitude,"
            "min_longitude,max_latitude,max_longitude,device_manufacturer,device_product,error\n"
            "first.fit,0,running,,\"Run, \"\"fast\"\"\",2023-11-14T22:13:20Z,"
            "2023-11-14T22:14:20Z,60.0," +
                distance + ",60.0,0.0,0.0,0.0,120.0," + max_speed +
                ",2,46.0,14.0,46.001,14.0,garmin,fenix5,\n"
                // -0.0: the model's "nothing to measure", kept as it is.
                "first.fit,1,,,,,,,-0.0,0.0,0.0,0.0,0.0,,0.0,0,,,,,garmin,fenix5,\n"
                "broken.gpx,,,,,,,,,,,,,,,,,,,,,,invalid GPX data: oops\n");
}

// The rows of every batch, as CSV.
std::string csv_of(const arrow::Table& table) {
  std::string csv;
  for (const arrow::RecordBatch& batch : table.batches()) {
    arrow::append_csv_rows(csv, table.schema(), batch, 0, batch.num_rows);
  }
  return csv;
}

TEST(ManyFileTables, LargeHistoriesComeInBatchesOfWholeFiles) {
  const ActivityFile file = two_activities();
  SummaryTableBuilder summaries(3);
  SummaryTableBuilder one_batch;
  SourcedPointTableBuilder points(3);
  SourcedPointTableBuilder one_point_batch;
  for (int i = 0; i < 4; ++i) {
    const std::string name = "f" + std::to_string(i);
    summaries.add(name, figures_of(file));
    one_batch.add(name, figures_of(file));
    summaries.add_failure(name + ".bad", "e");
    one_batch.add_failure(name + ".bad", "e");
    points.add(name, file);  // two points a file
    one_point_batch.add(name, file);
  }
  EXPECT_EQ(summaries.num_rows(), 12);
  const arrow::Table summary_table = summaries.finish();
  const arrow::Table point_table = points.finish();
  EXPECT_EQ(summary_table.batches().size(), 4u);  // 3 rows each
  EXPECT_EQ(point_table.batches().size(), 2u);    // closed at 4 rows, after whole files
  EXPECT_EQ(point_table.num_rows(), 8);
  EXPECT_EQ(csv_of(summary_table), csv_of(one_batch.finish()));
  EXPECT_EQ(csv_of(point_table), csv_of(one_point_batch.finish()));
  // With nothing added: one empty batch, which every reader takes.
  EXPECT_EQ(SummaryTableBuilder().finish().batches().size(), 1u);
  EXPECT_EQ(SourcedPointTableBuilder().finish().batches().size(), 1u);
}

TEST(SourcedPointTable, SourceIsStoredOncePerFileBeforeThePointColumns) {
  SourcedPointTableBuilder builder;
  const ActivityFile file = two_activities();
  builder.add("a.fit", file);
  builder.add("b.fit", ActivityFile{});
  builder.add("c.fit", file);
  const arrow::Table table = builder.finish();
  EXPECT_EQ(table.schema().fields.at(0).name, "source");
  EXPECT_EQ(std::vector(table.schema().fields.begin() + 1, table.schema().fields.end()),
            point_schema().fields);
  ASSERT_EQ(table.num_rows(), 4);
  const arrow::ArrayData& source = *table.batches()[0].columns[0];
  EXPECT_EQ(source.dictionary->length, 2);  // b.fit had no point
  std::string csv;
  arrow::append_csv_rows(csv, table.schema(), table.batches()[0], 1, 3);
  EXPECT_EQ(csv,
            "a.fit,0,0,2023-11-14T22:14:20Z,46.001,14.0,,,120,,,,\n"
            "c.fit,0,0,2023-11-14T22:13:20Z,46.0,14.0,,,120,,,,\n");
}

TEST(Csv, TextsNullsNumbersAndTimes) {
  arrow::StringBuilder texts;
  for (const char* text : {"plain", "", "a,b", "say \"hi\"", "two\nlines", "cr\r"}) {
    texts.append(std::string_view(text));
  }
  texts.append_null();
  arrow::Float64Builder numbers;
  for (const double value : {1.5, 52.0, 1e16, -0.0, std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()}) {
    numbers.append(value);
  }
  numbers.append_null();
  arrow::TimestampBuilder times(arrow::TimeUnit::Nano, "UTC");
  for (const std::int64_t ns : std::initializer_list<std::int64_t>{
           0, 1'500'000'000, -1, 1'483'228'800'123'456'789, -500'000'000, 42}) {
    times.append(ns);
  }
  times.append_null();
  arrow::Schema schema;
  schema.fields = {{"text", arrow::TypeId::Utf8, true, {}},
                   {"number", arrow::TypeId::Float64, true, {}},
                   {"time, UTC", arrow::timestamp(arrow::TimeUnit::Nano, "UTC"), true, {}}};
  arrow::RecordBatch batch{7, {texts.finish(), numbers.finish(), times.finish()}};
  const arrow::Table table(schema, {batch});
  std::string csv;
  arrow::append_csv_header(csv, schema);
  arrow::append_csv_rows(csv, schema, table.batches()[0], 0, 7);
  EXPECT_EQ(csv,
            "text,number,\"time, UTC\"\n"
            "plain,1.5,1970-01-01T00:00:00Z\n"
            "\"\",52.0,1970-01-01T00:00:01.500Z\n"
            "\"a,b\",1e16,1969-12-31T23:59:59.999999999Z\n"
            "\"say \"\"hi\"\"\",-0.0,2017-01-01T00:00:00.123456789Z\n"
            "\"two\nlines\",inf,1969-12-31T23:59:59.500Z\n"
            "\"cr\r\",NaN,1970-01-01T00:00:00.000000042Z\n"
            ",,\n");
  arrow::ListBuilder lists(std::make_unique<arrow::Int32Builder>());
  lists.append_list();
  arrow::Schema list_schema;
  list_schema.fields = {{"l", lists.type(), true, {}}};
  const arrow::Table list_table(list_schema, {arrow::RecordBatch{1, {lists.finish()}}});
  EXPECT_THROW(arrow::append_csv_rows(csv, list_schema, list_table.batches()[0], 0, 1),
               std::invalid_argument);
}

}  // namespace
}  // namespace tramlix
