#include "tape/schmitt_trigger.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pulsecut {
namespace {

uint16_t Clamp16(uint32_t v) { return v > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(v); }

// Bit i set when (bytes[i] << 8) | low > t, for 64 bytes. The value exceeds t exactly when its
// high byte exceeds (t - low) >> 8, or always when t is below low.
uint64_t BytesAbove(const uint8_t* bytes, uint8_t low, uint16_t t) {
  if (t < low) return ~uint64_t{0};
  const auto limit = static_cast<uint8_t>((t - low) >> 8);
  uint64_t mask = 0;
#if defined(__SSE2__)
  // Unsigned byte comparison as a signed one on bytes with the top bit flipped.
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  const __m128i bound = _mm_set1_epi8(static_cast<char>(limit ^ 0x80));
  for (size_t j = 0; j < 4; ++j) {
    const auto* p = reinterpret_cast<const __m128i*>(bytes + 16 * j);
    const __m128i above = _mm_cmpgt_epi8(_mm_xor_si128(_mm_loadu_si128(p), flip), bound);
    mask |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(above))} << (16 * j);
  }
#else
  for (size_t i = 0; i < 64; ++i) mask |= uint64_t{bytes[i] > limit} << i;
#endif
  return mask;
}

}  // namespace

SchmittTrigger::SchmittTrigger(uint32_t highLevel, uint32_t lowLevel)
    : upper_(((highLevel - 0x8000u) >> 1) + 0x8000u),
      lower_(0x8000u - ((0x8000u - lowLevel) >> 1)),
      riseAbove_(Clamp16(upper_)),
      stayAbove_(Clamp16(lower_ - 1)),
      neverFalls_(lower_ == 0) {}

ChangeMasks SchmittTrigger::Masks(const uint16_t* values) const {
  uint64_t rises = 0;
  uint64_t stays = 0;  // values above stayAbove_
#if defined(__SSE2__)
  // SSE2 compares signed 16-bit lanes only; flipping the top bit of both sides turns the
  // unsigned comparison into a signed one. Sixteen results are packed into bytes and gathered.
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i rise = _mm_set1_epi16(static_cast<short>(riseAbove_ ^ 0x8000));
  const __m128i stay = _mm_set1_epi16(static_cast<short>(stayAbove_ ^ 0x8000));
  for (size_t j = 0; j < 4; ++j) {
    const auto* p = reinterpret_cast<const __m128i*>(values + 16 * j);
    const __m128i a = _mm_xor_si128(_mm_loadu_si128(p), flip);
    const __m128i b = _mm_xor_si128(_mm_loadu_si128(p + 1), flip);
    const __m128i r = _mm_packs_epi16(_mm_cmpgt_epi16(a, rise), _mm_cmpgt_epi16(b, rise));
    const __m128i s = _mm_packs_epi16(_mm_cmpgt_epi16(a, stay), _mm_cmpgt_epi16(b, stay));
    rises |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(r))} << (16 * j);
    stays |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(s))} << (16 * j);
  }
#else
  for (size_t i = 0; i < kGroup; ++i) {
    rises |= uint64_t{values[i] > riseAbove_} << i;
    stays |= uint64_t{values[i] > stayAbove_} << i;
  }
#endif
  return {rises, neverFalls_ ? 0 : ~stays};
}

ChangeMasks SchmittTrigger::Masks(const uint8_t* highBytes, uint8_t lowByte) const {
  const uint64_t rises = BytesAbove(highBytes, lowByte, riseAbove_);
  const uint64_t falls = neverFalls_ ? 0 : ~BytesAbove(highBytes, lowByte, stayAbove_);
  return {rises, falls};
}

}  // namespace pulsecut
