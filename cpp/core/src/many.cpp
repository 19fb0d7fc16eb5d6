// Listing what a caller names (folders walked, archives opened) and loading each source.
#include "tramlix/many.hpp"

#include <dirent.h>
#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "text.hpp"
#include "tramlix/format.hpp"
#include "tramlix/io.hpp"
#include "zip.hpp"

namespace tramlix {
namespace {

Error io_error(const std::string& path, int error_number) {
  return Error::io(utf8_lossy(path), std::error_code(error_number, std::system_category()));
}

bool ends_with_ci(std::string_view text, std::string_view lower_suffix) {
  return text.size() >= lower_suffix.size() &&
         equals_ascii_ci(text.substr(text.size() - lower_suffix.size()), lower_suffix);
}

bool is_archive_name(std::string_view name) {
  return ends_with_ci(name, ".zip");
}

std::string joined(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

// Walks one folder: the activity files under it, by path relative to it, each folder once
// however many links lead to it. Folders that cannot be read become failures under their path.
class Walk {
 public:
  explicit Walk(std::string root) : root_(std::move(root)) {}

  void run(std::vector<Source>& out) {
    // The folders still to read, by relative path, the first in byte order read first: a
    // folder that links reach by several paths is read under the first of them, whatever order
    // the file system lists entries in.
    std::set<std::string> pending{""};
    while (!pending.empty()) {
      const std::string relative = std::move(pending.extract(pending.begin()).value());
      read_folder(relative, pending);
    }
    std::sort(files_.begin(), files_.end());
    std::sort(failures_.begin(), failures_.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    // Files and unreadable folders in one order: by path.
    std::size_t f = 0;
    for (const std::string& file : files_) {
      while (f < failures_.size() && failures_[f].first < file) add_failure(out, failures_[f++]);
      std::string path = joined(root_, file);
      out.push_back(Source{path, Source::File{path}});
    }
    while (f < failures_.size()) add_failure(out, failures_[f++]);
  }

 private:
  void add_failure(std::vector<Source>& out, std::pair<std::string, int>& failure) {
    std::string path = failure.first.empty() ? root_ : joined(root_, failure.first);
    Error error = io_error(path, failure.second);
    out.push_back(Source{std::move(path), Source::Failed{std::move(error)}});
  }

  void read_folder(const std::string& relative, std::set<std::string>& pending) {
    const std::string path = relative.empty() ? root_ : joined(root_, relative);
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
    if (!folder) {
      failures_.emplace_back(relative, errno);
      return;
    }
    struct stat info {};
    if (::fstat(::dirfd(folder.get()), &info) != 0 ||
        !seen_.emplace(info.st_dev, info.st_ino).second) {
      return;  // reached before through another link
    }
    while (const dirent* entry = ::readdir(folder.get())) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = relative.empty() ? std::string(name) : joined(relative, name);
      unsigned char type = entry->d_type;
      if (type == DT_UNKNOWN || type == DT_LNK) {
        struct stat target {};
        if (::stat(joined(root_, child).c_str(), &target) != 0) continue;  // a dangling link
        type = S_ISDIR(target.st_mode) ? DT_DIR : S_ISREG(target.st_mode) ? DT_REG : DT_UNKNOWN;
      }
      if (type == DT_DIR) {
        pending.insert(std::move(child));
      } else if (type == DT_REG && is_activity_file_name(name)) {
        files_.push_back(std::move(child));
      }
    }
  }

  std::string root_;
  std::vector<std::string> files_;
  std::vector<std::pair<std::string, int>> failures_;  // folders that could not be read
  std::set<std::pair<dev_t, ino_t>> seen_;
};

bool skipped_member(std::string_view name) {
  return name.starts_with("__MACOSX/") || name.ends_with('/');
}

// Archives read during one listing, so that many members of one archive named one by one read
// its directory once.
class Archives {
 public:
  const std::expected<std::vector<ArchiveMember>, Error>& directory(const std::string& path) {
    auto found = read_.find(path);
    if (found == read_.end()) found = read_.emplace(path, zip::read_directory(path)).first;
    return found->second;
  }

 private:
  std::map<std::string, std::expected<std::vector<ArchiveMember>, Error>> read_;
};

void add_archive(const std::string& path, Archives& archives, std::vector<Source>& out) {
  const auto& directory = archives.directory(path);
  if (!directory) {
    out.push_back(Source{path, Source::Failed{directory.error()}});
    return;
  }
  std::vector<const ArchiveMember*> members;
  for (const ArchiveMember& member : *directory) {
    if (!skipped_member(member.name) && is_activity_file_name(member.name)) {
      members.push_back(&member);
    }
  }
  std::stable_sort(members.begin(), members.end(),
                   [](const auto* a, const auto* b) { return a->name < b->name; });
  for (const ArchiveMember* member : members) {
    out.push_back(Source{joined(path, member->name), *member});
  }
}

// "export.zip/activities/1.fit.gz": the member of an archive that a path leads into, when some
// leading part of it names a plain file ending in ".zip".
std::optional<Source> archive_member(const std::string& path, Archives& archives) {
  for (std::size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string archive = path.substr(0, slash);
    struct stat info {};
    if (!is_archive_name(archive) || ::stat(archive.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
      continue;
    }
    const std::string member = path.substr(slash + 1);
    const auto& directory = archives.directory(archive);
    if (!directory) return Source{path, Source::Failed{directory.error()}};
    for (const ArchiveMember& entry : *directory) {
      if (entry.name == member) return Source{path, entry};
    }
    return Source{path, Source::Failed{io_error(path, ENOENT)}};
  }
  return std::nullopt;
}

void add_path(const std::string& path, Archives& archives, std::vector<Source>& out) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      Walk(path).run(out);
      return;
    }
    if (is_archive_name(path)) {
      add_archive(path, archives, out);
      return;
    }
  } else if (errno == ENOTDIR) {
    if (auto member = archive_member(path, archives)) {
      out.push_back(std::move(*member));
      return;
    }
  }
  out.push_back(Source{path, Source::File{path}});
}

}  // namespace

bool is_activity_file_name(std::string_view name) {
  if (ends_with_ci(name, ".gz")) name.remove_suffix(3);
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  return std::ranges::any_of(
      Format::all(), [&](Format format) { return equals_ascii_ci(extension, format.name()); });
}

Listing list_sources(std::span<const RequestedSource> requests) {
  Listing listing;
  Archives archives;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const RequestedSource& request = requests[i];
    const std::size_t before = listing.sources.size();
    if (request.data) {
      listing.sources.push_back(Source{request.path, Source::Bytes{*request.data}});
    } else {
      add_path(request.path, archives, listing.sources);
    }
    if (listing.sources.size() == before) listing.empty.push_back(i);
  }
  return listing;
}

std::expected<ActivityFile, Error> load(const Source& source) {
  struct Loader {
    std::expected<ActivityFile, Error> operator()(const Source::File& file) const {
      return tramlix::load(file.path);
    }
    std::expected<ActivityFile, Error> operator()(const ArchiveMember& member) const {
      auto bytes = zip::read_member(member);
      if (!bytes) return std::unexpected(std::move(bytes.error()));
      return loads(bytes->span());
    }
    std::expected<ActivityFile, Error> operator()(const Source::Bytes& bytes) const {
      return loads(bytes.data);
    }
    std::expected<ActivityFile, Error> operator()(const Source::Failed& failed) const {
      return std::unexpected(failed.error);
    }
  };
  return std::visit(Loader{}, source.what);
}

unsigned default_workers() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    if (const int count = CPU_COUNT(&set); count > 0) return static_cast<unsigned>(count);
  }
  return std::max(std::thread::hardware_concurrency(), 1u);
}

}  // namespace tramlix
