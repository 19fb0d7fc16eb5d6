#include "zip.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>

#include "text.hpp"

namespace tramlix::zip {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kEntrySignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kEntrySize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kMaxComment = 65535;
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr std::uint16_t kEncrypted = 1;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
// zlib counts in `uInt`; larger inputs are fed in pieces.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;

Error invalid(std::string message) {
  return Error::invalid_data("zip", std::move(message));
}

Error cut_short() {
  return invalid("the archive is cut short or damaged: its data lies past the end of the file");
}

std::uint16_t u16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}
std::uint32_t u32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(u16(at)) | static_cast<std::uint32_t>(u16(at + 2)) << 16;
}
std::uint64_t u64(const std::uint8_t* at) {
  return static_cast<std::uint64_t>(u32(at)) | static_cast<std::uint64_t>(u32(at + 4)) << 32;
}

gzip::Bytes allocate(std::size_t size) {
  gzip::Bytes bytes;
  bytes.data.reset(static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(size, 1))));
  if (!bytes.data) throw std::bad_alloc();
  bytes.size = size;
  return bytes;
}

// The archive file, open for reads at any offset.
class File {
 public:
  static std::expected<File, Error> open(const std::string& path) {
    File file(path, ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd_ < 0) return std::unexpected(file.io_error(errno));
    struct stat info {};
    if (::fstat(file.fd_, &info) != 0) return std::unexpected(file.io_error(errno));
    if (!S_ISREG(info.st_mode)) return std::unexpected(invalid("an archive must be a plain file"));
    file.size_ = static_cast<std::uint64_t>(info.st_size);
    return file;
  }
  File(File&& other) noexcept
      : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }

  std::uint64_t size() const { return size_; }

  // Exactly `out.size()` bytes from `offset`; the archive is cut short when they are not there.
  std::expected<void, Error> read(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > size_ || out.size() > size_ - offset) return std::unexpected(cut_short());
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        return std::unexpected(io_error(errno));
      }
      if (got == 0) return std::unexpected(cut_short());  // shrunk since it was opened
      done += static_cast<std::size_t>(got);
    }
    return {};
  }

 private:
  File(const std::string& path, int fd) : path_(path), fd_(fd) {}

  Error io_error(int error_number) const {
    return Error::io(utf8_lossy(path_), std::error_code(error_number, std::system_category()));
  }

  std::string path_;
  int fd_;
  std::uint64_t size_ = 0;
};

// Where the central directory is and how many entries it has.
struct Directory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t entries = 0;
};

// The end of central directory record is the last thing in the file but for a comment of up to
// 64 KiB; in a zip64 archive a locator before it leads to the zip64 record.
std::expected<Directory, Error> find_directory(const File& file) {
  const std::size_t tail_size = static_cast<std::size_t>(
      std::min<std::uint64_t>(file.size(), kEndSize + kMaxComment + kZip64LocatorSize));
  if (tail_size < kEndSize) {
    return std::unexpected(invalid("not a zip archive: it has no end of central directory"));
  }
  std::vector<std::uint8_t> tail(tail_size);
  if (auto read = file.read(file.size() - tail_size, tail); !read) {
    return std::unexpected(std::move(read.error()));
  }
  std::size_t at = tail_size - kEndSize + 1;
  for (;;) {
    if (at == 0) {
      return std::unexpected(invalid("not a zip archive: it has no end of central directory"));
    }
    --at;
    if (u32(&tail[at]) == kEndSignature && at + kEndSize + u16(&tail[at + 20]) <= tail_size) break;
  }
  const std::uint8_t* end = &tail[at];
  std::uint64_t disk = u16(end + 4);
  std::uint64_t directory_disk = u16(end + 6);
  std::uint64_t disk_entries = u16(end + 8);
  Directory directory{u32(end + 16), u32(end + 12), u16(end + 10)};
  if (at >= kZip64LocatorSize && u32(end - kZip64LocatorSize) == kZip64LocatorSignature) {
    const std::uint64_t record_offset = u64(end - kZip64LocatorSize + 8);
    std::uint8_t record[kZip64EndSize];
    if (auto read = file.read(record_offset, record); !read) {
      return std::unexpected(std::move(read.error()));
    }
    if (u32(record) != kZip64EndSignature) {
      return std::unexpected(invalid("the zip64 end of central directory is damaged"));
    }
    disk = u32(record + 16);
    directory_disk = u32(record + 20);
    disk_entries = u64(record + 24);
    directory = {u64(record + 48), u64(record + 40), u64(record + 32)};
  }
  if (disk != 0 || directory_disk != 0 || disk_entries != directory.entries) {
    return std::unexpected(invalid("archives split over several files are not supported"));
  }
  if (directory.offset > file.size() || directory.size > file.size() - directory.offset) {
    return std::unexpected(cut_short());
  }
  if (directory.entries > directory.size / kEntrySize) {
    return std::unexpected(invalid("the central directory is damaged"));
  }
  return directory;
}

// The zip64 extended information of an entry: 64-bit values for the fields that hold the
// marker, in the order uncompressed size, compressed size, header offset.
void read_zip64_extra(std::span<const std::uint8_t> extra, ArchiveMember& member, bool wide_size,
                      bool wide_compressed, bool wide_offset) {
  while (extra.size() >= 4) {
    const std::uint16_t id = u16(extra.data());
    const std::size_t length = std::min<std::size_t>(u16(extra.data() + 2), extra.size() - 4);
    std::span<const std::uint8_t> field = extra.subspan(4, length);
    extra = extra.subspan(4 + length);
    if (id != 0x0001) continue;
    auto take = [&](std::uint64_t& value) {
      if (field.size() < 8) return;
      value = u64(field.data());
      field = field.subspan(8);
    };
    if (wide_size) take(member.size);
    if (wide_compressed) take(member.compressed_size);
    if (wide_offset) take(member.header_offset);
    return;
  }
}

// Raw deflate into exactly `size` bytes: producing more or fewer is damage.
std::expected<gzip::Bytes, Error> inflate_exactly(std::span<const std::uint8_t> data,
                                                  std::size_t size) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) throw std::bad_alloc();
  struct End {
    z_stream* stream;
    ~End() { inflateEnd(stream); }
  } end{&stream};
  gzip::Bytes out = allocate(size);
  std::uint8_t probe = 0;  // where output past `size` goes, to notice it
  std::size_t consumed = 0;
  std::size_t produced = 0;
  for (;;) {
    const bool full = produced == size;
    const std::size_t in_chunk = std::min(data.size() - consumed, kMaxChunk);
    const std::size_t out_chunk = full ? 1 : std::min(size - produced, kMaxChunk);
    stream.next_in = const_cast<Bytef*>(data.data() + consumed);
    stream.avail_in = static_cast<uInt>(in_chunk);
    stream.next_out = full ? &probe : out.data.get() + produced;
    stream.avail_out = static_cast<uInt>(out_chunk);
    const int result = ::inflate(&stream, Z_NO_FLUSH);
    consumed += in_chunk - stream.avail_in;
    const std::size_t made = out_chunk - stream.avail_out;
    if (full && made > 0) {
      return std::unexpected(invalid("the member inflates to more than the " +
                                     std::to_string(size) + " bytes the archive gives"));
    }
    produced += full ? 0 : made;
    switch (result) {
      case Z_STREAM_END:
        if (produced != size) {
          return std::unexpected(invalid("the member inflates to " + std::to_string(produced) +
                                         " bytes, not the " + std::to_string(size) +
                                         " the archive gives"));
        }
        return out;
      case Z_OK:
        continue;
      case Z_BUF_ERROR:
        // No progress: room for more output, or more input, goes on; else the input ran out.
        if (stream.avail_out == 0 || consumed < data.size()) continue;
        return std::unexpected(invalid("the member's data is cut short"));
      case Z_MEM_ERROR:
        throw std::bad_alloc();
      default:
        return std::unexpected(invalid(std::string("the member's data is corrupt (") +
                                       (stream.msg ? stream.msg : "unknown error") + ")"));
    }
  }
}

}  // namespace

std::expected<std::vector<ArchiveMember>, Error> read_directory(const std::string& path) {
  auto file = File::open(path);
  if (!file) return std::unexpected(std::move(file.error()));
  auto directory = find_directory(*file);
  if (!directory) return std::unexpected(std::move(directory.error()));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(directory->size));
  if (auto read = file->read(directory->offset, bytes); !read) {
    return std::unexpected(std::move(read.error()));
  }
  std::vector<ArchiveMember> members;
  members.reserve(static_cast<std::size_t>(directory->entries));
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < directory->entries; ++i) {
    if (bytes.size() - at < kEntrySize || u32(&bytes[at]) != kEntrySignature) {
      return std::unexpected(invalid("the central directory is damaged"));
    }
    const std::uint8_t* entry = &bytes[at];
    const std::size_t name_size = u16(entry + 28);
    const std::size_t extra_size = u16(entry + 30);
    const std::size_t comment_size = u16(entry + 32);
    if (bytes.size() - at - kEntrySize < name_size + extra_size + comment_size) {
      return std::unexpected(invalid("the central directory is damaged"));
    }
    ArchiveMember member;
    member.archive = path;
    member.flags = u16(entry + 8);
    member.method = u16(entry + 10);
    member.crc = u32(entry + 16);
    member.compressed_size = u32(entry + 20);
    member.size = u32(entry + 24);
    member.header_offset = u32(entry + 42);
    const std::string_view name(reinterpret_cast<const char*>(entry + kEntrySize), name_size);
    member.name = utf8_lossy(name);
    read_zip64_extra({entry + kEntrySize + name_size, extra_size}, member,
                     member.size == kZip64Marker, member.compressed_size == kZip64Marker,
                     member.header_offset == kZip64Marker);
    members.push_back(std::move(member));
    at += kEntrySize + name_size + extra_size + comment_size;
  }
  return members;
}

std::expected<gzip::Bytes, Error> read_member(const ArchiveMember& member, std::size_t max_output) {
  if (member.flags & kEncrypted) {
    return std::unexpected(invalid("encrypted members are not supported"));
  }
  if (member.method != kStored && member.method != kDeflated) {
    return std::unexpected(invalid("compression method " + std::to_string(member.method) +
                                   " is not supported (only stored and deflated members are)"));
  }
  if (member.size > max_output) {
    return std::unexpected(invalid("the member's uncompressed size exceeds the limit of " +
                                   std::to_string(max_output >> 20) + " MiB"));
  }
  auto file = File::open(member.archive);
  if (!file) return std::unexpected(std::move(file.error()));
  std::uint8_t header[kLocalSize];
  if (auto read = file->read(member.header_offset, header); !read) {
    return std::unexpected(std::move(read.error()));
  }
  if (u32(header) != kLocalSignature) {
    return std::unexpected(invalid("the member's local header is damaged"));
  }
  const std::uint64_t data_offset =
      member.header_offset + kLocalSize + u16(header + 26) + u16(header + 28);
  if (member.compressed_size > file->size()) return std::unexpected(cut_short());
  gzip::Bytes packed = allocate(static_cast<std::size_t>(member.compressed_size));
  if (auto read = file->read(data_offset, {packed.data.get(), packed.size}); !read) {
    return std::unexpected(std::move(read.error()));
  }
  gzip::Bytes bytes;
  if (member.method == kStored) {
    if (member.compressed_size != member.size) {
      return std::unexpected(invalid("a stored member's sizes disagree"));
    }
    bytes = std::move(packed);
  } else {
    auto inflated = inflate_exactly(packed.span(), static_cast<std::size_t>(member.size));
    if (!inflated) return std::unexpected(std::move(inflated.error()));
    bytes = std::move(*inflated);
  }
  // crc32 takes its length as uInt: feed large members in pieces.
  uLong crc = crc32(0L, Z_NULL, 0);
  for (std::size_t done = 0; done < bytes.size;) {
    const std::size_t chunk = std::min(bytes.size - done, kMaxChunk);
    crc = crc32(crc, bytes.data.get() + done, static_cast<uInt>(chunk));
    done += chunk;
  }
  if (crc != member.crc) {
    return std::unexpected(invalid("the member is damaged: its CRC-32 does not match"));
  }
  return bytes;
}

}  // namespace tramlix::zip
