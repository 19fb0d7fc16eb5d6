// Counts objects that hold exported memory, for live_allocations().
#pragma once

namespace tramlix::arrow {

struct Live {
  Live() noexcept;
  Live(const Live&) noexcept : Live() {}
  Live& operator=(const Live&) noexcept { return *this; }
  ~Live();
};

}  // namespace tramlix::arrow
