// Many files at once: what a caller names (files, folders, zip archives, bytes) expanded into
// the files to load, and a pool of threads that works through them and hands the results back
// in input order.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <expected>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "tramlix/error.hpp"
#include "tramlix/model.hpp"

namespace tramlix {

// One thing a caller names: a path, or bytes under a name of the caller's choosing.
struct RequestedSource {
  std::string path;  // the path, or the name of `data`
  std::optional<std::span<const std::uint8_t>> data;
};

// A member of a zip archive, as the archive's central directory describes it.
struct ArchiveMember {
  std::string archive;  // the archive's path
  std::string name;     // the member's name in the archive ("activities/1.fit.gz")
  std::uint64_t header_offset = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
};

// One file to load, and the name its result goes by.
struct Source {
  struct File {
    std::string path;
  };
  struct Bytes {
    std::span<const std::uint8_t> data;
  };
  // Listing found the name unusable (a folder that cannot be read, a damaged archive): loading
  // it gives this error.
  struct Failed {
    Error error;
  };

  std::string name;
  std::variant<File, ArchiveMember, Bytes, Failed> what;
};

struct Listing {
  std::vector<Source> sources;
  // The requests (by index) that named no file at all: a folder without activity files, an
  // archive without a member of a known extension.
  std::vector<std::size_t> empty;
};

// Whether a file name ends in an activity file's extension: ".fit", ".gpx", ".tcx", or one of
// them followed by ".gz", in any letter case.
bool is_activity_file_name(std::string_view name);

// Expands the requests, in order, into the files to load:
// - a folder: the activity files under it (by name, see is_activity_file_name), walked
//   recursively and following symbolic links (each folder once), sorted by path as bytes
//   (the order of Python's sorted() on the path texts); named "folder/sub/run.fit";
// - a path ending in ".zip" (any letter case): the archive's members with an activity file's
//   name, sorted by name, skipping the "__MACOSX/" folder that macOS adds; named
//   "archive.zip/member.fit";
// - "archive.zip/member.fit", a name as listing gives it, where no such file exists: that
//   member, whatever its extension;
// - anything else (any file, or a path that does not exist): itself, loaded as load() does;
// - bytes: themselves, under their name.
// Names of paths are the paths as given, joined with "/". Never fails: what cannot be listed
// becomes a Source::Failed under its name.
Listing list_sources(std::span<const RequestedSource> requests);

// Loads one source: the file, the archive member or the bytes, gzip-compressed or not, with the
// errors load() and loads() give.
std::expected<ActivityFile, Error> load(const Source& source);

// The processors this process may run on (its CPU affinity), at least one.
unsigned default_workers();

// Runs `work(i)` for every i below `count` on a pool of threads and hands the results out in
// order of i. At most `window` results (default: twice the threads) are worked on or waiting
// ahead of the consumer, so memory stays bounded by the window, not by `count`. What `work`
// throws is thrown again by take() for that i; the pool goes on with the others.
template <class Result>
class OrderedPool {
 public:
  using Work = std::function<Result(std::size_t index)>;

  OrderedPool(std::size_t count, unsigned workers, Work work, std::size_t window = 0)
      : count_(count), work_(std::move(work)) {
    const std::size_t threads =
        std::min<std::size_t>(std::max(workers, 1u), std::max<std::size_t>(count, 1));
    window_ = std::max(window == 0 ? 2 * threads : window, threads);
    slots_.resize(window_);
    if (count == 0) return;
    try {
      for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
    } catch (...) {
      stop();
      throw;
    }
  }
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;
  // Lets each thread finish the item it is on, then joins them.
  ~OrderedPool() { stop(); }

  std::size_t size() const { return count_; }
  std::size_t taken() const {
    std::lock_guard lock(mutex_);
    return taken_;
  }
  bool finished() const { return taken() == count_; }

  // Whether the next result is there (or every result has been taken), waiting at most
  // `timeout` for it.
  bool ready(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [&] { return taken_ == count_ || next_is_ready(); });
  }

  // The next result in order, waiting for it; only while !finished().
  Result take() {
    Slot slot;
    {
      std::unique_lock lock(mutex_);
      done_.wait(lock, [&] { return next_is_ready(); });
      slot = std::exchange(slots_[taken_ % window_], Slot{});
      ++taken_;
    }
    claimable_.notify_all();
    if (auto* fault = std::get_if<std::exception_ptr>(&slot)) std::rethrow_exception(*fault);
    return std::move(std::get<Result>(slot));
  }

 private:
  using Slot = std::variant<std::monostate, Result, std::exception_ptr>;

  bool next_is_ready() const {
    return taken_ < count_ && !std::holds_alternative<std::monostate>(slots_[taken_ % window_]);
  }

  void run() {
    for (;;) {
      std::size_t index = 0;
      {
        std::unique_lock lock(mutex_);
        claimable_.wait(
            lock, [&] { return stopping_ || claimed_ == count_ || claimed_ < taken_ + window_; });
        if (stopping_ || claimed_ == count_) return;
        index = claimed_++;
      }
      Slot slot;
      try {
        slot.template emplace<Result>(work_(index));
      } catch (...) {
        slot = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        slots_[index % window_] = std::move(slot);
      }
      done_.notify_all();
    }
  }

  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    claimable_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }

  const std::size_t count_;
  const Work work_;
  std::size_t window_ = 1;
  mutable std::mutex mutex_;
  std::condition_variable claimable_;  // a worker may claim the next item, or must stop
  std::condition_variable done_;       // a result came in
  std::vector<Slot> slots_;            // item i waits in slot i % window_
  std::size_t claimed_ = 0;
  std::size_t taken_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace tramlix
