#include "fit/framing.hpp"

#include <algorithm>
#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "fit/file_header.hpp"

namespace fit {
namespace {

constexpr std::size_t kMinHeaderSize = 12;
constexpr std::size_t kCrcSize = 2;
constexpr std::uint8_t kSignature[4] = {'.', 'F', 'I', 'T'};

// Byte-wide tables instead of the published two nibble steps per byte; the same remainders.
// Table k advances a byte that is followed by k more, so sixteen bytes take one step
// ("slicing by sixteen"): the steps, not the table look-ups, bound the speed.
constexpr std::size_t kSlice = 16;
constexpr std::array<std::array<std::uint16_t, 256>, kSlice> make_crc_tables() {
  std::array<std::array<std::uint16_t, 256>, kSlice> tables{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t crc = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : (crc >> 1);
    }
    tables[0][i] = crc;
  }
  for (unsigned k = 1; k < kSlice; ++k) {
    for (unsigned i = 0; i < 256; ++i) {
      const std::uint16_t previous = tables[k - 1][i];
      tables[k][i] = static_cast<std::uint16_t>((previous >> 8) ^ tables[0][previous & 0xFF]);
    }
  }
  return tables;
}
constexpr auto kCrcTables = make_crc_tables();

std::uint16_t load_u16_le(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint16_t crc16_by_table(const std::uint8_t* p, std::size_t n, std::uint16_t crc) {
  const auto& t = kCrcTables;
  for (; n >= kSlice; n -= kSlice, p += kSlice) {
    crc = static_cast<std::uint16_t>(
        t[15][(p[0] ^ crc) & 0xFF] ^ t[14][(p[1] ^ (crc >> 8)) & 0xFF] ^ t[13][p[2]] ^ t[12][p[3]] ^
        t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^
        t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]]);
  }
  for (; n > 0; --n, ++p) crc = static_cast<std::uint16_t>((crc >> 8) ^ t[0][(crc ^ *p) & 0xFF]);
  return crc;
}

#if defined(__x86_64__)
// Long runs fold 64 bytes a step with carry-less multiplication (PCLMULQDQ), as zlib does for
// CRC-32 ("Fast CRC Computation for Generic Polynomials Using PCLMULQDQ", Intel, 2009). The
// 16-bit CRC of a message is the 32-bit one for the polynomial times x^16, shifted: the
// reflected 32-bit remainder holds it in its low half. The constants are x^n mod that
// polynomial, bit-reflected and shifted left by one, and the Barrett quotient x^64 / P.
namespace folding {

using Poly = unsigned __int128;

constexpr Poly kPolynomial = Poly{0x18005} << 16;  // x^16 (x^16 + x^15 + x^2 + 1)

constexpr int degree(Poly p) {
  int d = -1;
  for (; p != 0; p >>= 1) ++d;
  return d;
}
// x^n mod P, one multiplication by x at a time.
constexpr Poly x_power_mod(int n) {
  Poly r = 1;
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if (degree(r) == degree(kPolynomial)) r ^= kPolynomial;
  }
  return r;
}
constexpr Poly quotient(Poly a, Poly p) {
  Poly q = 0;
  while (degree(a) >= degree(p)) {
    q |= Poly{1} << (degree(a) - degree(p));
    a ^= p << (degree(a) - degree(p));
  }
  return q;
}
constexpr std::uint64_t reflect(Poly v, int bits) {
  std::uint64_t r = 0;
  for (int i = 0; i < bits; ++i) r |= static_cast<std::uint64_t>((v >> i) & 1) << (bits - 1 - i);
  return r;
}
// x^n mod P, reflected in 32 bits and shifted by one.
constexpr std::uint64_t k(int n) {
  return reflect(x_power_mod(n), 32) << 1;
}

constexpr std::uint64_t kFold4[2] = {k(4 * 128 + 32), k(4 * 128 - 32)};
constexpr std::uint64_t kFold1[2] = {k(128 + 32), k(128 - 32)};
constexpr std::uint64_t kFold64 = k(64);
constexpr std::uint64_t kBarrett[2] = {reflect(kPolynomial, 33),
                                       reflect(quotient(Poly{1} << 64, kPolynomial), 33)};

#define TRAMLIX_CLMUL __attribute__((target("pclmul,sse4.1")))

TRAMLIX_CLMUL inline __m128i load(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

TRAMLIX_CLMUL inline __m128i pair(const std::uint64_t (&k)[2]) {
  return _mm_set_epi64x(static_cast<long long>(k[1]), static_cast<long long>(k[0]));
}

// Folds `x` forward by the distance `k` stands for and adds `next`.
TRAMLIX_CLMUL inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// `n` is at least 64 and a multiple of 16.
TRAMLIX_CLMUL std::uint16_t crc16_folded(const std::uint8_t* p, std::size_t n, std::uint16_t crc) {
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(crc));
  __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
  p += 64, n -= 64;
  const __m128i fold4 = pair(kFold4);
  for (; n >= 64; p += 64, n -= 64) {
    x1 = fold(x1, fold4, load(p));
    x2 = fold(x2, fold4, load(p + 16));
    x3 = fold(x3, fold4, load(p + 32));
    x4 = fold(x4, fold4, load(p + 48));
  }
  const __m128i fold1 = pair(kFold1);
  x1 = fold(fold(fold(x1, fold1, x2), fold1, x3), fold1, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = fold(x1, fold1, load(p));

  // 128 bits to 64, then Barrett reduction to 32.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, fold1, 0x10));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32),
                                          _mm_set_epi64x(0, static_cast<long long>(kFold64)), 0x00),
                     _mm_srli_si128(x1, 4));
  const __m128i barrett = pair(kBarrett);
  const __m128i q =
      _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10), low32);
  x1 = _mm_xor_si128(x1, _mm_clmulepi64_si128(q, barrett, 0x00));
  return static_cast<std::uint16_t>(_mm_extract_epi32(x1, 1));
}

#undef TRAMLIX_CLMUL

bool available() {
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  }();
  return supported;
}

}  // namespace folding
#endif

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
#if defined(__x86_64__)
  if (n >= 64 && folding::available()) {
    const std::size_t folded = n & ~std::size_t{15};
    crc = folding::crc16_folded(p, folded, crc);
    p += folded, n -= folded;
  }
#endif
  return crc16_by_table(p, n, crc);
}

namespace {

std::expected<FileHeader, FitError> read_header(std::span<const std::uint8_t> bytes,
                                                std::size_t position, bool may_be_cut) {
  const std::size_t remaining = position < bytes.size() ? bytes.size() - position : 0;
  if (remaining < kMinHeaderSize) return std::unexpected(FileTooShort{kMinHeaderSize, remaining});
  const auto file = bytes.subspan(position);
  const std::uint8_t size = file[0];
  if (size != 12 && size != 14) return std::unexpected(InvalidHeaderSize{size});
  if (remaining < size) return std::unexpected(FileTooShort{size, remaining});
  if (!std::equal(file.begin() + 8, file.begin() + 12, kSignature)) {
    return std::unexpected(InvalidSignature{{file[8], file[9], file[10], file[11]}});
  }
  const std::uint32_t data_size = static_cast<std::uint32_t>(file[4]) | (file[5] << 8) |
                                  (file[6] << 16) | (static_cast<std::uint32_t>(file[7]) << 24);
  // 64-bit arithmetic: a data size near 2^32 cannot wrap here.
  const std::size_t needed = std::size_t{size} + data_size + kCrcSize;
  const std::size_t data_begin = position + size;
  if (remaining < needed) {
    if (!may_be_cut) return std::unexpected(FileTooShort{needed, remaining});
    return FileHeader{size, data_size, data_begin, std::min(data_begin + data_size, bytes.size())};
  }
  return FileHeader{size, data_size, data_begin, data_begin + data_size};
}

}  // namespace

std::expected<FileHeader, FitError> read_file_header(std::span<const std::uint8_t> bytes,
                                                     std::size_t position) {
  return read_header(bytes, position, false);
}

std::expected<FileHeader, FitError> read_cut_file_header(std::span<const std::uint8_t> bytes,
                                                         std::size_t position) {
  return read_header(bytes, position, true);
}

bool begins_file(std::span<const std::uint8_t> bytes, std::size_t position) {
  if (position > bytes.size() || bytes.size() - position < kMinHeaderSize) return false;
  return std::equal(kSignature, kSignature + 4, bytes.begin() + position + 8);
}

std::expected<void, FitError> check_file_crcs(std::span<const std::uint8_t> bytes,
                                              const FileHeader& header) {
  const std::size_t begin = header.begin();
  if (header.size == 14) {
    const std::uint16_t stored = load_u16_le(bytes, begin + 12);
    if (stored != 0) {
      const std::uint16_t calculated = crc16(bytes.subspan(begin, 12));
      if (stored != calculated) return std::unexpected(HeaderCrcMismatch{stored, calculated});
    }
  }
  const std::uint16_t stored = load_u16_le(bytes, header.data_end);
  const std::uint16_t calculated = crc16(bytes.subspan(begin, header.data_end - begin));
  if (stored != calculated) return std::unexpected(FileCrcMismatch{stored, calculated});
  return {};
}

std::expected<void, FitError> check_integrity(std::span<const std::uint8_t> bytes) {
  std::size_t position = 0;
  do {
    const auto header = read_file_header(bytes, position);
    if (!header) return std::unexpected(header.error());
    if (auto intact = check_file_crcs(bytes, *header); !intact) return intact;
    position = header->end();
  } while (begins_file(bytes, position));
  return {};
}

std::size_t begin_file(OutputStream& out, std::uint8_t protocol_version,
                       std::uint16_t profile_version) {
  const std::size_t start = out.size();
  out.append_u8(14);
  out.append_u8(protocol_version);
  out.append_u16_le(profile_version);
  out.append_u32_le(0);
  out.append_bytes(kSignature);
  out.append_u16_le(0);
  return start;
}

std::expected<std::uint32_t, FitError> data_size_field(std::size_t data_size) {
  if (data_size > 0xFFFFFFFFu) return std::unexpected(SegmentTooLarge{data_size});
  return static_cast<std::uint32_t>(data_size);
}

std::expected<void, FitError> finish_file(OutputStream& out, std::size_t start) {
  const auto data_size = data_size_field(out.size() - start - 14);
  if (!data_size) return std::unexpected(data_size.error());
  out.overwrite_u32_le(start + 4, *data_size);
  const std::span<const std::uint8_t> file = std::span(out.bytes()).subspan(start);
  out.overwrite_u16_le(start + 12, crc16(file.first(12)));
  out.append_u16_le(crc16(std::span(out.bytes()).subspan(start)));
  return {};
}

}  // namespace fit
