#include "tramlix/io.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "formats.hpp"
#include "gzip.hpp"
#include "source.hpp"
#include "text.hpp"

namespace tramlix {
namespace {

Error io_error(const std::string& path, int error_number) {
  return Error::io(path, std::error_code(error_number, std::system_category()));
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, so that a failing close (a full disk on NFS, say) is reported.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// A path with a NUL byte would silently name a different file (the part before the NUL).
bool has_nul(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

// A buffer for a whole file. Large ones are aligned to 2 MiB and asked to be backed by huge
// pages: a fresh 10 MB buffer otherwise costs thousands of page faults, more than reading the
// file itself.
struct FreeDeleter {
  void operator()(std::uint8_t* data) const { std::free(data); }
};
using Buffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

Buffer allocate(std::size_t size) {
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (size < kHugePage) {
    if (auto* data = static_cast<std::uint8_t*>(std::malloc(size))) return Buffer(data);
    throw std::bad_alloc();
  }
  size = (size + kHugePage - 1) / kHugePage * kHugePage;
  auto* data = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, size));
  if (data == nullptr) throw std::bad_alloc();
  ::madvise(data, size, MADV_HUGEPAGE);  // a hint: failure only costs speed
  return Buffer(data);
}

struct FileBytes {
  Buffer data;
  std::size_t size = 0;
};

// Grows a buffer to `capacity` bytes, keeping its first `size`. realloc can move the pages of a
// large block instead of copying them, so a stream's buffer never needs twice its size.
void grow(FileBytes& bytes, std::size_t capacity) {
  void* grown = std::realloc(bytes.data.get(), capacity);
  if (grown == nullptr) throw std::bad_alloc();
  (void)bytes.data.release();
  bytes.data.reset(static_cast<std::uint8_t*>(grown));
}

std::expected<FileBytes, Error> read_file(const std::string& path) {
  if (has_nul(path)) return std::unexpected(io_error(path, EINVAL));
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::unexpected(io_error(path, errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(io_error(path, errno));
  // The size is a hint only: the file may grow or shrink. One byte more than the size lets the
  // read that finds the end need no larger buffer. A pipe or device has no size and may never
  // end (/dev/zero): what it gives is read up to a limit.
  const bool regular = S_ISREG(info.st_mode);
  std::size_t capacity = 65536;
  if (regular && info.st_size > 0) capacity = static_cast<std::size_t>(info.st_size) + 1;
  FileBytes bytes{allocate(capacity), 0};
  for (;;) {
    if (bytes.size == capacity) {
      if (!regular && capacity > kMaxStreamBytes) {
        return std::unexpected(Error::too_large(path, "1 GiB"));
      }
      capacity = regular ? capacity * 2 : std::min(capacity * 2, kMaxStreamBytes + 1);
      grow(bytes, capacity);
    }
    const ssize_t got = ::read(fd.get(), bytes.data.get() + bytes.size, capacity - bytes.size);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(io_error(path, errno));
    }
    if (got == 0) return bytes;
    bytes.size += static_cast<std::size_t>(got);
  }
}

// Writes everything, however many calls that takes; false with errno set on failure.
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Opens the path and writes over whatever is there: for what is not a regular file.
int write_in_place(const std::string& path, std::string_view bytes) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0 || !write_all(fd.get(), bytes)) return errno;
  if (fd.close() != 0) return errno;
  return 0;
}

// The directory part of a path, with its final separator ("" for a bare name), and the name.
std::pair<std::string_view, std::string_view> split_path(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {{}, path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool names_a_file(std::string_view name) {
  return !name.empty() && name != "." && name != "..";
}

bool on_procfs(std::string_view directory) {
  struct statfs info {};
  const std::string where = directory.empty() ? std::string(".") : std::string(directory);
  return ::statfs(where.c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

// Where a save puts its bytes. A regular file, or a name where none exists yet, is replaced
// whole; anything else the path leads to (a FIFO, a terminal, /dev/stdout) is written in place.
struct Destination {
  bool in_place = false;
  std::string file;  // the file to replace, reached through any symbolic links
  std::optional<struct stat> existing;
};

// Errors are errno values, reported against the path the caller gave.
std::expected<Destination, int> destination(const std::string& path) {
  const Destination in_place{true, path, std::nullopt};
  struct stat info {};
  std::optional<struct stat> existing;
  if (::stat(path.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return in_place;
    existing = info;
  } else if (errno != ENOENT) {
    return std::unexpected(errno);
  }
  // Follow symbolic links one at a time, so that the file itself is replaced and the links
  // stay links. A relative link is relative to the directory that holds it.
  std::string file = path;
  for (int hops = 0;; ++hops) {
    if (!names_a_file(split_path(file).second)) return in_place;  // "x.gpx/." fails as before
    struct stat link {};
    if (::lstat(file.c_str(), &link) != 0) {
      if (errno == ENOENT) break;  // a new file, or a dangling link that makes one
      return std::unexpected(errno);
    }
    if (!S_ISLNK(link.st_mode)) break;
    if (hops == 40) return std::unexpected(ELOOP);
    // /dev/stdout and /dev/fd/N lead through /proc to an open stream, not to a name.
    if (on_procfs(split_path(file).first)) return in_place;
    std::string target(static_cast<std::size_t>(std::max<off_t>(link.st_size, 255)) + 1, '\0');
    const ssize_t size = ::readlink(file.c_str(), target.data(), target.size());
    if (size < 0) return std::unexpected(errno);
    if (static_cast<std::size_t>(size) == target.size()) return std::unexpected(ENAMETOOLONG);
    target.resize(static_cast<std::size_t>(size));
    file = target.starts_with('/') ? target : std::string(split_path(file).first) + target;
  }
  // Replacing a file one may not write would bypass its protection: refuse it as opening did.
  if (existing && ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0) {
    return std::unexpected(errno);
  }
  return Destination{false, std::move(file), existing};
}

// Random letters for a temporary name; the name is created exclusively, so they need not be
// secret, only hard to guess ahead.
std::string random_letters() {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15u ^
           static_cast<std::uint64_t>(now.tv_sec) ^ (static_cast<std::uint64_t>(::getpid()) << 32);
  }
  bits ^= counter.fetch_add(1, std::memory_order_relaxed) * 0xD6E8FEB86659FD93u;
  constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz234567";
  std::string letters(12, 'a');
  for (char& letter : letters) {
    letter = kAlphabet[bits & 31];
    bits >>= 5;
  }
  return letters;
}

// Removes the temporary file unless the rename gave it away.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  // A new file next to `file`: ".run.gpx.k3x9qa7bm2pd.tmp". Created with 0666 so that the
  // kernel applies the umask (and a default ACL) exactly as for any new file.
  int create(const std::string& file) {
    const auto [directory, name] = split_path(file);
    // Long names are shortened to stay within the 255 bytes a name may have; the cut stays
    // off the middle of a UTF-8 character.
    std::size_t keep = std::min<std::size_t>(name.size(), 200);
    while (keep > 0 && keep < name.size() && (name[keep] & 0xC0) == 0x80) --keep;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string path = std::string(directory) + "." + std::string(name.substr(0, keep)) + "." +
                         random_letters() + ".tmp";
      fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        path_ = std::move(path);
        return 0;
      }
      if (errno != EEXIST) return errno;
    }
    return EEXIST;
  }

  int get() const { return fd_; }

  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

  int rename_to(const std::string& file) {
    if (::rename(path_.c_str(), file.c_str()) != 0) return errno;
    path_.clear();
    return 0;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

// An existing file keeps its permission bits and, where the writer may set them (root), its
// owner and group. The bits are set before any byte is written, so a private file is never
// readable by others on the way.
int keep_attributes(int fd, const struct stat& old) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return errno;
  if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
    // Best effort: other users may not give a file away; it is then the writer's.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    if (::fstat(fd, &now) != 0) return errno;
  }
  const mode_t bits = old.st_mode & 07777;
  if ((now.st_mode & 07777) != bits && ::fchmod(fd, bits) != 0) return errno;
  return 0;
}

// Writes a whole new file next to the old one, makes it durable, then renames it over the old
// one: a reader sees the old file or the new one, never a part, and a failure at any step
// leaves the old file as it was.
int replace(const Destination& destination, std::string_view bytes) {
  TemporaryFile temporary;
  if (const int error = temporary.create(destination.file)) return error;
  if (destination.existing) {
    if (const int error = keep_attributes(temporary.get(), *destination.existing)) return error;
  }
  if (!write_all(temporary.get(), bytes)) return errno;
  if (::fsync(temporary.get()) != 0) return errno;
  if (temporary.close() != 0) return errno;
  if (const int error = temporary.rename_to(destination.file)) return error;
  // The rename itself becomes durable with the directory. The file is in place by now, so a
  // directory that cannot be synced (some file systems refuse) is no reason to report failure.
  const std::string directory(split_path(destination.file).first);
  FileDescriptor dir(
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) (void)::fsync(dir.get());
  return 0;
}

std::expected<void, Error> write_file(const std::string& path, std::string_view bytes) {
  if (has_nul(path)) return std::unexpected(io_error(path, EINVAL));
  const auto where = destination(path);
  if (!where) return std::unexpected(io_error(path, where.error()));
  const int error = where->in_place ? write_in_place(path, bytes) : replace(*where, bytes);
  if (error != 0) return std::unexpected(io_error(path, error));
  return {};
}

// The final component of a path the way path libraries see it: repeated and trailing
// separators and "." components after the first do not count; ".." and "." have no file name.
std::optional<std::string_view> file_name(std::string_view path) {
  std::optional<std::string_view> last;
  bool first = true;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t stop = path.find('/', start);
    if (stop == std::string_view::npos) stop = path.size();
    const std::string_view part = path.substr(start, stop - start);
    if (!part.empty() && (part != "." || first)) last = part;
    if (!part.empty() || stop == 0) first = false;
    start = stop + 1;
  }
  if (!last || *last == "." || *last == "..") return std::nullopt;
  return last;
}

// The part after the last full stop of a file name; none when the name has no full stop or only
// a leading one (".gpx" is a name, not an extension).
std::optional<std::string_view> extension_of(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  return name.substr(dot + 1);
}

bool is_gz(std::string_view extension) {
  return equals_ascii_ci(extension, "gz");
}

struct Target {
  Format format;
  bool gzip;
};

// What a path asks to be written as: the format its extension names, gzip-compressed when a
// ".gz" follows that extension ("run.gpx.gz"). A ".gz" with no extension before it ("run.gz")
// names no format and fails like any other unknown extension.
std::expected<Target, Error> output_target(const std::string& path) {
  const auto name = file_name(path);
  auto ext = name ? extension_of(*name) : std::nullopt;
  if (!ext || !is_valid_utf8(*ext)) {
    return std::unexpected(Error::unsupported_format(utf8_lossy(path) + " has no file extension"));
  }
  bool gzip = false;
  if (is_gz(*ext)) {
    if (const auto inner = extension_of(name->substr(0, name->size() - 3));
        inner && is_valid_utf8(*inner)) {
      ext = inner;
      gzip = true;
    }
  }
  auto format = Format::from_str(*ext);
  if (!format) return std::unexpected(std::move(format.error()));
  return Target{*format, gzip};
}

// Reads uncompressed bytes in the format given, or else in the one their content shows.
std::expected<ActivityFile, Error> read(std::span<const std::uint8_t> data,
                                        std::optional<Format> format) {
  if (!format) {
    auto detected = Format::detect(data);
    if (!detected) return std::unexpected(std::move(detected.error()));
    format = *detected;
  }
  const FormatEntry* entry = format_entry(*format);
  if (!entry) return std::unexpected(unknown_format());
  return entry->read(data);
}

}  // namespace

std::expected<ActivityFile, Error> loads(std::span<const std::uint8_t> data,
                                         std::optional<Format> format) {
  // gzip is never FIT, GPX or TCX: it is unpacked whatever format is named.
  if (!gzip::is_gzip(data)) return read(data, format);
  auto inflated = gzip::inflate(data);
  if (!inflated) return std::unexpected(std::move(inflated.error()));
  if (gzip::is_gzip(inflated->span())) return std::unexpected(gzip::compressed_twice());
  return read(inflated->span(), format);
}

std::expected<std::string, Error> dumps(const ActivityFile& file, Format format,
                                        Omissions* omitted) {
  const FormatEntry* entry = format_entry(format);
  if (!entry) return std::unexpected(unknown_format());
  return entry->write(file, omitted);
}

std::expected<ActivityFile, Error> load(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return loads({bytes->data.get(), bytes->size});
}

std::expected<Recovery, Error> recover_file(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  return recover({bytes->data.get(), bytes->size});
}

std::expected<void, Error> save(const ActivityFile& file, const std::string& path,
                                Omissions* omitted) {
  const auto target = output_target(path);
  if (!target) return std::unexpected(std::move(target.error()));
  auto bytes = dumps(file, target->format, omitted);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (target->gzip) *bytes = gzip::deflate(*bytes);
  return write_file(path, *bytes);
}

std::expected<SourceBytes, Error> source_bytes(std::span<const std::uint8_t> data) {
  if (!gzip::is_gzip(data)) return SourceBytes{data, nullptr};
  auto inflated = gzip::inflate(data);
  if (!inflated) return std::unexpected(std::move(inflated.error()));
  if (gzip::is_gzip(inflated->span())) return std::unexpected(gzip::compressed_twice());
  auto owner = std::make_shared<gzip::Bytes>(std::move(*inflated));
  return SourceBytes{owner->span(), owner};
}

std::expected<SourceBytes, Error> source_bytes_of_file(const std::string& path) {
  auto read = read_file(path);
  if (!read) return std::unexpected(std::move(read.error()));
  auto file = std::make_shared<FileBytes>(std::move(*read));
  const std::span<const std::uint8_t> bytes(file->data.get(), file->size);
  auto source = source_bytes(bytes);
  if (source && !source->owner) source->owner = std::move(file);
  return source;
}

}  // namespace tramlix
