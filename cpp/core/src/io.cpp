#include "tramlix/io.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "fit/fit.hpp"
#include "gpx/gpx.hpp"
#include "gzip.hpp"
#include "tcx/tcx.hpp"
#include "tramlix/text.hpp"

namespace tramlix {
namespace {

std::string_view as_text(std::span<const std::uint8_t> data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

// Only a value cast into Format from outside its enumerators reaches this.
Error unknown_format() { return Error::unsupported_format("unknown format"); }

Error io_error(const std::string& path, int error_number) {
  return Error::io(utf8_lossy(path), std::error_code(error_number, std::system_category()));
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
bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

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

std::expected<FileBytes, Error> read_file(const std::string& path) {
  if (has_nul(path)) return std::unexpected(io_error(path, EINVAL));
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::unexpected(io_error(path, errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(io_error(path, errno));
  // The size is a hint only: the file may grow or shrink, or be a pipe. One byte more than the
  // size lets the read that finds the end need no larger buffer.
  std::size_t capacity = 65536;
  if (S_ISREG(info.st_mode) && info.st_size > 0) capacity = static_cast<std::size_t>(info.st_size) + 1;
  FileBytes bytes{allocate(capacity), 0};
  for (;;) {
    if (bytes.size == capacity) {
      capacity *= 2;
      Buffer larger = allocate(capacity);
      std::memcpy(larger.get(), bytes.data.get(), bytes.size);
      bytes.data = std::move(larger);
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

std::expected<void, Error> write_file(const std::string& path, std::string_view bytes) {
  if (has_nul(path)) return std::unexpected(io_error(path, EINVAL));
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) return std::unexpected(io_error(path, errno));
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd.get(), bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(io_error(path, errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  if (fd.close() != 0) return std::unexpected(io_error(path, errno));
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
  return extension.size() == 2 && (extension[0] | 0x20) == 'g' && (extension[1] | 0x20) == 'z';
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
  switch (*format) {
    case Format::Gpx: return gpx::read(as_text(data));
    case Format::Tcx: return tcx::read(as_text(data));
    case Format::Fit: return fit::read(data);
  }
  return std::unexpected(unknown_format());
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
  switch (format) {
    case Format::Gpx: return gpx::write(file, omitted);
    case Format::Tcx: return tcx::write(file, omitted);
    case Format::Fit: return fit::write(file, omitted);
  }
  return std::unexpected(unknown_format());
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

}  // namespace tramlix
