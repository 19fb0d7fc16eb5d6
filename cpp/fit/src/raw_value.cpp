#include "fit/raw_value.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace fit {
namespace {

using namespace base_type;

using detail::as_double;
using detail::load;
using detail::widen;

// The length of the well-formed UTF-8 sequence at `at`, or 0 with `bad` set to how many bytes
// form its maximal ill-formed prefix (each such prefix becomes one U+FFFD).
std::size_t utf8_sequence(const std::uint8_t* at, std::size_t left, std::size_t& bad) {
  const std::uint8_t lead = at[0];
  std::size_t length;
  std::uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    bad = 1;
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t min = i == 1 ? low : 0x80;
    const std::uint8_t max = i == 1 ? high : 0xBF;
    if (i >= left || at[i] < min || at[i] > max) {
      bad = i;
      return 0;
    }
  }
  return length;
}

void assign_utf8_lossy(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> text) {
  std::size_t ascii = 0;
  while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
  out.assign(text.begin(), text.begin() + ascii);
  static constexpr std::uint8_t kReplacement[] = {0xEF, 0xBF, 0xBD};
  for (std::size_t i = ascii; i < text.size();) {
    if (text[i] < 0x80) {
      out.push_back(text[i++]);
      continue;
    }
    std::size_t bad = 0;
    const std::size_t length = utf8_sequence(&text[i], text.size() - i, bad);
    if (length > 0) {
      out.insert(out.end(), &text[i], &text[i] + length);
      i += length;
    } else {
      out.insert(out.end(), std::begin(kReplacement), std::end(kReplacement));
      i += bad;
    }
  }
}

}  // namespace

RawValue RawValue::array(std::uint8_t type, std::span<const std::uint64_t> elements) {
  RawValue value;
  value.kind_ = Kind::Array;
  value.type_ = type;
  const std::size_t width = kElementSize[type];
  for (const std::uint64_t element : elements) {
    for (std::size_t i = 0; i < width; ++i) {
      value.data_.push_back(static_cast<std::uint8_t>(element >> (8 * i)));
    }
  }
  return value;
}

std::uint64_t RawValue::element_bits(std::size_t index) const {
  const std::size_t width = kElementSize[type_];
  return widen(type_, load(data_.data() + index * width, width, false));
}

std::optional<std::vector<double>> RawValue::to_f64s() const {
  switch (kind_) {
    case Kind::Scalar:
      return std::vector<double>{as_double(type_, bits_)};
    case Kind::Array: {
      std::vector<double> numbers(element_count());
      for (std::size_t i = 0; i < numbers.size(); ++i) {
        numbers[i] = as_double(type_, element_bits(i));
      }
      return numbers;
    }
    case Kind::Bytes:
      return std::vector<double>(data_.begin(), data_.end());
    default:
      return std::nullopt;
  }
}

std::expected<void, FitError> decode_value_general(RawValue& out, std::uint8_t code,
                                                   std::span<const std::uint8_t> bytes,
                                                   bool big_endian, std::uint8_t field_number) {
  if (code >= kCount) return std::unexpected(UnknownBaseType{code, code});
  if (code == kString) {
    if (bytes.empty() || bytes[0] == 0) {
      out.assign_invalid(code);
      return {};
    }
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    out.kind_ = RawValue::Kind::String;
    out.type_ = code;
    out.bits_ = 0;
    assign_utf8_lossy(out.data_, std::span(bytes.begin(), end));
    return {};
  }
  if (code == kByte) {
    if (!bytes.empty() &&
        std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; })) {
      out.assign_invalid(code);
      return {};
    }
    out.kind_ = RawValue::Kind::Bytes;
    out.type_ = code;
    out.bits_ = 0;
    out.data_.assign(bytes.begin(), bytes.end());
    return {};
  }

  const std::size_t width = kElementSize[code];
  if (bytes.empty() || bytes.size() % width != 0) {
    return std::unexpected(
        MalformedField{field_number, static_cast<std::uint8_t>(bytes.size()), width});
  }
  const std::uint64_t invalid = kInvalid[code];
  if (bytes.size() == width) {
    const std::uint64_t bits = load(bytes.data(), width, big_endian);
    if (bits == invalid) {
      out.assign_invalid(code);
    } else {
      out.assign_scalar(code, widen(code, bits));
    }
    return {};
  }

  bool all_invalid = true;
  for (std::size_t at = 0; at < bytes.size() && all_invalid; at += width) {
    all_invalid = load(bytes.data() + at, width, big_endian) == invalid;
  }
  if (all_invalid) {
    out.assign_invalid(code);
    return {};
  }
  out.kind_ = RawValue::Kind::Array;
  out.type_ = code;
  out.bits_ = 0;
  out.data_.assign(bytes.begin(), bytes.end());
  if (big_endian && width > 1) {
    for (std::size_t at = 0; at < out.data_.size(); at += width) {
      std::reverse(out.data_.begin() + at, out.data_.begin() + at + width);
    }
  }
  return {};
}

}  // namespace fit
