#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tramlix/io.hpp"

namespace tramlix {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUnsupported = "unsupported or unrecognized activity format: ";
constexpr std::string_view kGpx =
    "<gpx><trk><name>Run</name><trkseg><trkpt lat=\"1\" lon=\"2\"/></trkseg></trk></gpx>";

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <class T>
std::string shown(const std::expected<T, Error>& result) {
  return result ? "ok" : result.error().display();
}

class Io : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  const fs::path dir_ = fs::temp_directory_path() / ("tramlix-io-" + std::to_string(::getpid()));
  const ActivityFile file_ = *loads(bytes(kGpx));
};

TEST_F(Io, LoadsTrustsAnExplicitFormatWithoutSniffing) {
  EXPECT_EQ(file_.activities.at(0).name, "Run");
  const std::string_view fit("\x0e\0\0\0\0\0\0\0.FIT\0\0\0\0", 16);
  EXPECT_EQ(shown(loads(bytes(fit), Format::Gpx)).substr(0, 18), "invalid GPX data: ");
  EXPECT_EQ(shown(loads(bytes(fit))).substr(0, 36), "invalid FIT data: file CRC mismatch:");
}

TEST_F(Io, SaveTakesTheFormatFromTheExtension) {
  ASSERT_EQ(shown(save(file_, path("out.GPX"))), "ok");
  EXPECT_EQ(load(path("out.GPX")), file_);
  // FIT by the extension in any case; reading finds it by the content.
  ActivityFile with_point = file_;
  with_point.activities.at(0).segments.at(0).points.emplace_back().longitude = 2.0;
  ASSERT_EQ(shown(save(with_point, path("out.Fit"))), "ok");
  const auto fit = load(path("out.Fit"));
  ASSERT_EQ(shown(fit), "ok");
  EXPECT_NEAR(fit->activities.at(0).segments.at(0).points.at(0).longitude.value_or(0), 2.0, 1e-7);
  const std::string no_extension = " has no file extension";
  const std::pair<std::string, std::string> failures[] = {
      {"out", path("out") + no_extension},
      {".gpx", path(".gpx") + no_extension},
      {"out.gpx/..", path("out.gpx/..") + no_extension},
      {"out.", ""},
      {"out.kml", "kml"}};
  for (const auto& [name, message] : failures) {
    EXPECT_EQ(shown(save(file_, path(name))), std::string(kUnsupported) + message);
    EXPECT_FALSE(fs::is_regular_file(path(name))) << "nothing may be written for " << name;
  }
}

TEST_F(Io, SaveCompressesWhenGzFollowsAKnownExtension) {
  const auto starts_gzip = [](const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return in.get() == 0x1f && in.get() == 0x8b;
  };
  ActivityFile timed = file_;  // TCX keeps only timed points, GPX only positioned ones
  TrackPoint point;
  point.time = UtcInstant{1'700'000'000, 0};
  point.latitude = 46.05;
  point.longitude = 14.5;
  timed.activities.at(0).segments.at(0).points = {point};
  for (const std::string name : {"run.gpx.gz", "run.TCX.Gz", "run.fit.GZ"}) {
    ASSERT_EQ(shown(save(timed, path(name))), "ok") << name;
    EXPECT_TRUE(starts_gzip(path(name))) << name;
    const auto again = load(path(name));
    ASSERT_EQ(shown(again), "ok") << name;
    EXPECT_EQ(again->activities.at(0).segments.at(0).points.at(0).time,
              timed.activities[0].segments[0].points[0].time)
        << name;
  }
  // Loading by content: a compressed file needs no ".gz" in its name.
  fs::rename(path("run.TCX.Gz"), path("run.tcx"));
  EXPECT_EQ(shown(load(path("run.tcx"))), "ok");
  // Without a known format before it, ".gz" is an unknown extension like any other.
  const std::pair<std::string, std::string> failures[] = {
      {"run.gz", "gz"}, {".gpx.gz", "gz"}, {"run.kml.gz", "kml"}, {"run.gpx.gz.gz", "gz"}};
  for (const auto& [name, message] : failures) {
    EXPECT_EQ(shown(save(file_, path(name))), std::string(kUnsupported) + message);
    EXPECT_FALSE(fs::exists(path(name))) << name;
  }
}

TEST_F(Io, IoErrorsNameThePath) {
  const auto io_error = [](const std::string& file, const char* reason) {
    return "cannot read or write " + file + ": " + reason;
  };
  const std::string missing = path("missing.gpx");
  EXPECT_EQ(shown(load(missing)), io_error(missing, "No such file or directory"));
  EXPECT_EQ(shown(load(dir_.string())), io_error(dir_.string(), "Is a directory"));
  // The binding raises the matching OSError subclass from the number and names the path as
  // given; the display text shows bytes that are not UTF-8 lossily.
  const std::string latin1 = path("caf\xE9.gpx");
  const auto not_found = load(latin1);
  ASSERT_FALSE(not_found);
  EXPECT_EQ(not_found.error().error_number(), ENOENT);
  EXPECT_EQ(not_found.error().path(), latin1);
  EXPECT_EQ(not_found.error().display(),
            io_error(path("caf\xEF\xBF\xBD.gpx"), "No such file or directory"));
  EXPECT_EQ(load(dir_.string()).error().error_number(), EISDIR);
  EXPECT_EQ(load(path("missing.gpx/x")).error().error_number(), ENOENT);
  std::ofstream(path("file")) << "x";
  EXPECT_EQ(load(path("file/x")).error().error_number(), ENOTDIR);
  const std::string nowhere = path("no/such/dir/out.gpx");
  EXPECT_EQ(shown(save(file_, nowhere)), io_error(nowhere, "No such file or directory"));
  // Opening "a\0.gpx" would otherwise create or read the file "a".
  std::ofstream(path("a")) << kGpx;
  const std::string with_nul = path("a") + std::string("\0.gpx", 5);
  EXPECT_EQ(shown(load(with_nul)), io_error(with_nul, "Invalid argument"));
  EXPECT_EQ(shown(save(file_, with_nul)), io_error(with_nul, "Invalid argument"));
  EXPECT_EQ(fs::file_size(path("a")), kGpx.size());
}

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void put(const fs::path& file, std::string_view text) {
  std::ofstream(file, std::ios::binary) << text;
}

// The names in a directory: a temporary file left behind shows up here.
std::vector<std::string> listing(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t mode_of(const fs::path& file) {
  struct stat info {};
  return ::stat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Mounts made by this test process stay in a namespace of its own and vanish with it. Only root
// may mount; elsewhere the tests that need a file system of their own skip.
bool private_mounts() {
  static const bool ready = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return ready;
}

class Save : public Io {
 protected:
  void TearDown() override {
    if (mounted_) ::umount2(disk_.c_str(), MNT_DETACH);
    if (fs::exists(dir_ / "locked")) fs::permissions(dir_ / "locked", fs::perms::owner_all);
    Io::TearDown();
  }

  // A tmpfs of its own at `disk_`; false when this process may not mount one.
  bool mount_disk(const char* options) {
    if (!private_mounts()) return false;
    fs::create_directories(disk_);
    mounted_ = ::mount("tmpfs", disk_.c_str(), "tmpfs", 0, options) == 0;
    return mounted_;
  }

  // Saving `file` to `target` fails with `error` and leaves the directory as it was.
  void expect_refused(const ActivityFile& file, const fs::path& target, const std::string& error) {
    const std::string old = contents(target);
    const auto names = listing(target.parent_path());
    EXPECT_EQ(shown(save(file, target.string())), error);
    EXPECT_EQ(contents(target), old) << "the old file must stay byte for byte";
    EXPECT_EQ(listing(target.parent_path()), names) << "no temporary file may stay";
  }

  std::string io_error(const fs::path& file, const char* reason) const {
    return "cannot read or write " + file.string() + ": " + reason;
  }

  const fs::path disk_ = dir_ / "disk";
  bool mounted_ = false;
};

ActivityFile long_track(int points) {
  Segment segment;
  for (int i = 0; i < points; ++i) {
    TrackPoint& point = segment.points.emplace_back();
    point.latitude = 45.0 + i * 1e-5;
    point.longitude = 13.0 + i * 1e-5;
    point.elevation_m = 100.0 + i % 7;
    point.time = UtcInstant{1'700'000'000 + i, 0};
  }
  ActivityFile file;
  file.activities.emplace_back().segments.push_back(std::move(segment));
  return file;
}

TEST_F(Save, ReplacesTheFileKeepingItsPermissions) {
  const fs::path target = dir_ / "out.gpx";
  put(target, "old and longer than the new document will be, so a short write would show it");
  ::chmod(target.c_str(), 0640);
  ASSERT_EQ(shown(save(file_, target.string())), "ok");
  EXPECT_EQ(contents(target), *dumps(file_, Format::Gpx));
  EXPECT_EQ(mode_of(target), 0640u);
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"out.gpx"});
  // A new file gets what the umask leaves of 0666, like any file a program creates.
  for (const auto& [umask, mode] : {std::pair<mode_t, mode_t>{022, 0644}, {077, 0600}, {0, 0666}}) {
    const fs::path fresh = dir_ / ("new" + std::to_string(umask) + ".tcx");
    const mode_t previous = ::umask(umask);
    const auto saved = save(file_, fresh.string());
    ::umask(previous);
    ASSERT_EQ(shown(saved), "ok");
    EXPECT_EQ(mode_of(fresh), mode) << "umask " << umask;
  }
}

TEST_F(Save, RootKeepsTheOwnerOfAnotherUsersFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  const fs::path target = dir_ / "theirs.fit";
  put(target, "old");
  ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
  ::chmod(target.c_str(), 04750);  // a chown clears set-user-ID: the bits must follow it
  ASSERT_EQ(shown(save(long_track(3), target.string())), "ok");
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(std::pair(info.st_uid, info.st_gid), std::pair(uid_t{4321}, gid_t{4322}));
  EXPECT_EQ(info.st_mode & 07777, 04750u);
}

TEST_F(Save, WritesThroughSymbolicLinksToTheFile) {
  // Relative links are relative to the directory holding them, not to the working directory.
  fs::create_directories(dir_ / "real");
  fs::create_directories(dir_ / "links");
  const fs::path real = dir_ / "real" / "run.gpx";
  put(real, "old");
  ::chmod(real.c_str(), 0600);
  fs::create_symlink("../real/run.gpx", dir_ / "links" / "step");
  fs::create_symlink("step", dir_ / "links" / "chain.gpx");
  fs::create_symlink(dir_ / "links" / "chain.gpx", dir_ / "absolute.gpx");
  fs::create_symlink("../real/new.gpx", dir_ / "links" / "dangling.gpx");
  ASSERT_EQ(shown(save(file_, (dir_ / "absolute.gpx").string())), "ok");
  ASSERT_EQ(shown(save(file_, (dir_ / "links" / "dangling.gpx").string())), "ok");
  const std::string document = *dumps(file_, Format::Gpx);
  EXPECT_EQ(contents(real), document);
  EXPECT_EQ(mode_of(real), 0600u);
  EXPECT_EQ(contents(dir_ / "real" / "new.gpx"), document);
  EXPECT_EQ(listing(dir_ / "real"), (std::vector<std::string>{"new.gpx", "run.gpx"}));
  EXPECT_EQ(listing(dir_ / "links"),
            (std::vector<std::string>{"chain.gpx", "dangling.gpx", "step"}));
  const std::pair<fs::path, fs::path> links[] = {{"absolute.gpx", dir_ / "links/chain.gpx"},
                                                 {"links/chain.gpx", "step"},
                                                 {"links/step", "../real/run.gpx"},
                                                 {"links/dangling.gpx", "../real/new.gpx"}};
  for (const auto& [link, target] : links) {
    ASSERT_TRUE(fs::is_symlink(dir_ / link)) << link;
    EXPECT_EQ(fs::read_symlink(dir_ / link), target) << link;
  }
  fs::create_symlink("loop.gpx", dir_ / "loop.gpx");
  EXPECT_EQ(shown(save(file_, (dir_ / "loop.gpx").string())),
            io_error(dir_ / "loop.gpx", "Too many levels of symbolic links"));
}

TEST_F(Save, WritesStreamsInPlace) {
  // A FIFO is written into, not replaced by a file. The document fits the pipe's buffer, and
  // the reader is open already: a save that went elsewhere fails here rather than hangs.
  const fs::path fifo = dir_ / "fifo.gpx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const auto saved = save(file_, fifo.string());
  std::string received(4096, '\0');
  const ssize_t got = ::read(reader, received.data(), received.size());
  received.resize(static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  ::close(reader);
  ASSERT_EQ(shown(saved), "ok");
  EXPECT_EQ(received, *dumps(file_, Format::Gpx));
  EXPECT_TRUE(fs::is_fifo(fifo));
  // /dev/stdout redirected to a file is such a stream too: the open file is written, through
  // /proc, and not a new file put in its place (the shell would go on writing to the old one).
  const fs::path held = dir_ / "held.gpx";
  put(held, "old");
  const int fd = ::open(held.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  fs::create_symlink("/dev/fd/" + std::to_string(fd), dir_ / "stdout.gpx");
  const auto through_proc = save(file_, (dir_ / "stdout.gpx").string());
  struct stat info {};
  ::fstat(fd, &info);
  ::close(fd);
  ASSERT_EQ(shown(through_proc), "ok");
  EXPECT_EQ(static_cast<std::size_t>(info.st_size), dumps(file_, Format::Gpx)->size());
  EXPECT_EQ(contents(held), *dumps(file_, Format::Gpx));
}

TEST_F(Save, AFullDiskLeavesTheOldFile) {
  if (!mount_disk("size=64k")) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const fs::path target = disk_ / "out.gpx";
  put(target, "old");
  const auto big = long_track(3000);
  ASSERT_GT(dumps(big, Format::Gpx)->size(), 64u << 10);
  expect_refused(big, target, io_error(target, "No space left on device"));
  // The space the temporary file took is free again: a small file still fits.
  EXPECT_EQ(shown(save(file_, target.string())), "ok");
  EXPECT_EQ(listing(disk_), std::vector<std::string>{"out.gpx"});
}

// Root runs the body as the user nobody, whom permission bits bind.
class AsAnotherUser {
 public:
  AsAnotherUser() : root_(::geteuid() == 0) {
    if (root_) {
      EXPECT_EQ(::seteuid(65534), 0);
    }
  }
  AsAnotherUser(const AsAnotherUser&) = delete;
  AsAnotherUser& operator=(const AsAnotherUser&) = delete;
  ~AsAnotherUser() {
    if (root_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
  }

 private:
  bool root_;
};

TEST_F(Save, AFileWithoutWritePermissionIsNotReplaced) {
  // The directory lets the writer put a new file in place of the old one; the file's own
  // permissions forbid writing it, and replacing it would get around them.
  const fs::path target = dir_ / "out.gpx";
  put(target, "old");
  ::chmod(target.c_str(), 0444);
  ::chmod(dir_.c_str(), 0777);
  AsAnotherUser user;
  expect_refused(file_, target, io_error(target, "Permission denied"));
}

TEST_F(Save, AReadOnlyDirectoryLeavesTheOldFile) {
  // The file may be written, but no new file may be made beside it.
  const fs::path locked = dir_ / "locked";
  fs::create_directories(locked);
  put(locked / "out.gpx", "old");
  ::chmod((locked / "out.gpx").c_str(), 0666);
  ::chmod(locked.c_str(), 0555);
  {
    AsAnotherUser user;
    expect_refused(file_, locked / "out.gpx", io_error(locked / "out.gpx", "Permission denied"));
    EXPECT_EQ(shown(save(file_, (locked / "new.gpx").string())),
              io_error(locked / "new.gpx", "Permission denied"));
  }
  // A file system mounted read-only stops root too.
  if (!mount_disk("size=64k")) GTEST_SKIP() << "needs root to mount a tmpfs";
  put(disk_ / "out.gpx", "old");
  ASSERT_EQ(::mount(nullptr, disk_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  expect_refused(file_, disk_ / "out.gpx", io_error(disk_ / "out.gpx", "Read-only file system"));
  EXPECT_EQ(shown(save(file_, (disk_ / "new.gpx").string())),
            io_error(disk_ / "new.gpx", "Read-only file system"));
  EXPECT_EQ(listing(disk_), std::vector<std::string>{"out.gpx"});
}

}  // namespace
}  // namespace tramlix

namespace tramlix {
namespace {

// A pipe has no size to go by: the whole stream must still arrive, however many reads it takes.
TEST(IoPipe, ReadsStreamsOfUnknownLength) {
  const auto fifo =
      std::filesystem::temp_directory_path() / ("tramlix-fifo-" + std::to_string(::getpid()));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string document = "<gpx><trk><trkseg>";
  for (int i = 0; i < 5000; ++i) document += "<trkpt lat=\"1.5\" lon=\"2.5\"><ele>3</ele></trkpt>";
  document += "</trkseg></trk></gpx>";
  std::thread writer([&] { std::ofstream(fifo) << document; });
  auto file = load(fifo.string());
  writer.join();
  std::filesystem::remove(fifo);
  ASSERT_TRUE(file) << file.error().display();
  EXPECT_EQ(file->point_count(), 5000u);
}

}  // namespace
}  // namespace tramlix
