// The x87 extended format's arithmetic as Torsel uses it, in integer code:
// a 64-bit significand, round to nearest even, and the x87's NaN rules. On
// the platforms whose long double is not the x87 format (ARM, MSVC,
// WebAssembly) it computes the bits x86 computes. Only what the twist
// arithmetic does is here: floats and doubles widened (exactly), products,
// sums and differences rounded to 64 bits, and rounding to float or double.
// Its values stay far inside the x87 exponent range (products of floats),
// so no x87 overflow or denormal arises.
#pragma once

#include <bit>
#include <cstdint>

namespace torsel {

class SoftExtended {
 public:
  SoftExtended() = default;
  explicit SoftExtended(float f) {
    const uint32_t b = std::bit_cast<uint32_t>(f), e = (b >> 23) & 0xFF, m = b & 0x7FFFFF;
    neg_ = (b >> 31) != 0;
    if (e == 0xFF) {
      kind_ = m == 0 ? kInf : kNaN;  // a NaN is quieted as it is loaded
      sig_ = uint64_t(m | 0xC00000) << 40;
    } else {
      set(e == 0 ? m : (m | 0x800000), (e == 0 ? -149 : int32_t(e) - 150));
    }
  }
  explicit SoftExtended(double d) {
    const uint64_t b = std::bit_cast<uint64_t>(d), e = (b >> 52) & 0x7FF, m = b & 0xFFFFFFFFFFFFFull;
    neg_ = (b >> 63) != 0;
    if (e == 0x7FF) {
      kind_ = m == 0 ? kInf : kNaN;
      sig_ = (m | 0x18000000000000ull) << 11;
    } else {
      set(e == 0 ? m : (m | 0x10000000000000ull), (e == 0 ? -1074 : int32_t(e) - 1075));
    }
  }

  friend SoftExtended operator*(const SoftExtended& a, const SoftExtended& b) {
    if (a.kind_ == kNaN || b.kind_ == kNaN) return pickNaN(a, b);
    SoftExtended r;
    r.neg_ = a.neg_ != b.neg_;
    if ((a.kind_ == kInf && b.kind_ == kZero) || (a.kind_ == kZero && b.kind_ == kInf)) return indefinite();
    if (a.kind_ == kInf || b.kind_ == kInf) return r.kind_ = kInf, r;
    if (a.kind_ == kZero || b.kind_ == kZero) return r;
    // Two 64-bit significands make up to 128 bits: round the top 64.
    uint64_t hi, lo;
    multiply64(a.sig_, b.sig_, &hi, &lo);
    int32_t exp = a.exp_ + b.exp_ + 1;
    if ((hi >> 63) == 0) {
      hi = hi << 1 | lo >> 63;
      lo <<= 1;
      exp--;
    }
    return rounded(r.neg_, exp, hi, lo);
  }
  friend SoftExtended operator*(const SoftExtended& a, float b) { return a * SoftExtended(b); }
  friend SoftExtended operator*(const SoftExtended& a, double b) { return a * SoftExtended(b); }

  friend SoftExtended operator+(const SoftExtended& a, const SoftExtended& b) {
    if (a.kind_ == kNaN || b.kind_ == kNaN) return pickNaN(a, b);
    if (a.kind_ == kInf || b.kind_ == kInf) {
      if (a.kind_ == kInf && b.kind_ == kInf && a.neg_ != b.neg_) return indefinite();
      return a.kind_ == kInf ? a : b;
    }
    if (b.kind_ == kZero) return a.kind_ == kZero ? zero(a.neg_ && b.neg_) : a;
    if (a.kind_ == kZero) return b;
    // The larger magnitude first; the other aligned to it in 128 bits, what
    // falls off kept as a sticky bit.
    const bool swap = b.exp_ > a.exp_ || (b.exp_ == a.exp_ && b.sig_ > a.sig_);
    const SoftExtended& x = swap ? b : a;
    const SoftExtended& y = swap ? a : b;
    const int32_t d = x.exp_ - y.exp_;
    uint64_t yhi = 0, ylo = 0;
    if (d == 0) {
      yhi = y.sig_;
    } else if (d < 64) {
      yhi = y.sig_ >> d;
      ylo = y.sig_ << (64 - d);
    } else if (d < 128) {
      ylo = d == 64 ? y.sig_ : (y.sig_ >> (d - 64)) | (y.sig_ << (128 - d) != 0);
    } else {
      ylo = 1;
    }
    uint64_t hi = x.sig_, lo = 0;
    int32_t exp = x.exp_;
    if (x.neg_ == y.neg_) {
      lo += ylo;
      const uint64_t carryLo = lo < ylo;
      const uint64_t sum = hi + yhi + carryLo;
      const bool carry = sum < hi || (carryLo && sum == hi);
      hi = sum;
      if (carry) {  // one bit more: shift it in, the bit out kept sticky
        lo = lo >> 1 | (lo & 1) | hi << 63;
        hi = hi >> 1 | uint64_t(1) << 63;
        exp++;
      }
    } else {
      const uint64_t borrow = lo < ylo;
      lo -= ylo;
      hi -= yhi + borrow;
      if (hi == 0 && lo == 0) return zero(false);  // exact cancellation: +0
      while ((hi >> 63) == 0) {
        hi = hi << 1 | lo >> 63;
        lo <<= 1;
        exp--;
      }
    }
    return rounded(x.neg_, exp, hi, lo);
  }
  friend SoftExtended operator-(const SoftExtended& a, const SoftExtended& b) {
    if (a.kind_ == kNaN || b.kind_ == kNaN) return pickNaN(a, b);  // the NaN as it is
    SoftExtended minus = b;
    minus.neg_ = !minus.neg_;
    return a + minus;
  }

  explicit operator float() const { return std::bit_cast<float>(static_cast<uint32_t>(narrow(24, 127))); }
  explicit operator double() const { return std::bit_cast<double>(narrow(53, 1023)); }

 private:
  enum Kind : uint8_t { kZero, kFinite, kInf, kNaN };

  // |value| = m · 2^e, m > 0 (or zero).
  void set(uint64_t m, int32_t e) {
    if (m == 0) return;
    const int lead = std::countl_zero(m);
    kind_ = kFinite;
    sig_ = m << lead;
    exp_ = e + 63 - lead;
  }
  static SoftExtended zero(bool neg) {
    SoftExtended r;
    r.neg_ = neg;
    return r;
  }
  // The x87's answer to 0 · ∞ and ∞ − ∞: the negative indefinite.
  static SoftExtended indefinite() {
    SoftExtended r;
    r.kind_ = kNaN;
    r.neg_ = true;
    r.sig_ = uint64_t(3) << 62;
    return r;
  }
  // Of two NaNs the larger significand, on a tie the positive one.
  static SoftExtended pickNaN(const SoftExtended& a, const SoftExtended& b) {
    if (a.kind_ != kNaN) return b;
    if (b.kind_ != kNaN) return a;
    if (a.sig_ != b.sig_) return a.sig_ > b.sig_ ? a : b;
    return a.neg_ ? b : a;
  }
  static void multiply64(uint64_t a, uint64_t b, uint64_t* hi, uint64_t* lo) {
    const uint64_t al = a & 0xFFFFFFFF, ah = a >> 32, bl = b & 0xFFFFFFFF, bh = b >> 32;
    const uint64_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
    const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFF) + (hl & 0xFFFFFFFF);
    *lo = (mid << 32) | (ll & 0xFFFFFFFF);
    *hi = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
  }
  // The 128-bit significand hi:lo (top bit set) rounded to 64 bits.
  static SoftExtended rounded(bool neg, int32_t exp, uint64_t hi, uint64_t lo) {
    const uint64_t half = uint64_t(1) << 63;
    if (lo > half || (lo == half && (hi & 1))) {
      if (++hi == 0) {
        hi = half;
        exp++;
      }
    }
    SoftExtended r;
    r.kind_ = kFinite;
    r.neg_ = neg;
    r.exp_ = exp;
    r.sig_ = hi;
    return r;
  }
  // sig / 2^shift, rounded to nearest even.
  static uint64_t shiftRounded(uint64_t sig, int shift) {
    if (shift > 64) return 0;
    const uint64_t q = shift == 64 ? 0 : sig >> shift;
    const uint64_t rest = shift == 64 ? sig : sig & ((uint64_t(1) << shift) - 1);
    const uint64_t half = uint64_t(1) << (shift - 1);
    return rest > half || (rest == half && (q & 1)) ? q + 1 : q;
  }
  // The bits of the value in a binary format with `digits` significand
  // bits and the largest exponent `maxExp`, rounded to nearest even.
  uint64_t narrow(int digits, int32_t maxExp) const {
    const int fraction = digits - 1, width = fraction + (digits == 24 ? 9 : 12);
    const uint64_t sign = uint64_t(neg_) << (width - 1), top = (uint64_t(1) << (width - 1 - fraction)) - 1;
    if (kind_ == kNaN) return sign | top << fraction | ((sig_ >> (64 - digits)) & ((uint64_t(1) << fraction) - 1));
    if (kind_ == kInf || (kind_ == kFinite && exp_ > maxExp)) return sign | top << fraction;
    if (kind_ == kZero) return sign;
    const int32_t biased = exp_ + maxExp;
    if (biased >= 1) {
      uint64_t m = shiftRounded(sig_, 64 - digits);
      int32_t e = biased;
      if (m >> digits) {
        m >>= 1;
        e++;
      }
      if (e >= int32_t(top)) return sign | top << fraction;  // rounded up to infinity
      return sign | uint64_t(e) << fraction | (m & ((uint64_t(1) << fraction) - 1));
    }
    // Below the normal range: fewer digits; a carry into the exponent's
    // lowest bit makes the smallest normal number, as it should.
    return sign | shiftRounded(sig_, 64 - digits + 1 - biased);
  }

  Kind kind_ = kZero;
  bool neg_ = false;
  int32_t exp_ = 0;   // the value is sig_ · 2^(exp_ − 63)
  uint64_t sig_ = 0;  // top bit set when finite; NaN: the x87 significand
};

}  // namespace torsel
