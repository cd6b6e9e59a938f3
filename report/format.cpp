// Real-to-text conversion. Every step works on 80-bit values and rounds each
// product and quotient to 80 bits; on x86-64 the x87 unit computes long double
// at exactly that width, so no intermediate is held wider. The 2^-63 fuzz makes
// values that sit a few units of the last place below a decimal tie (as decimal
// constants often do in binary) round away from zero like the tie itself.
//
// Nothing here may raise a floating-point trap: the input is classified by its
// bits before any arithmetic, huge values never meet a product that could
// overflow, and only small digit values are converted to integers.
#include "report/format.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace zanfel {

namespace {

constexpr REAL kFuzz = 0x1p-63L;
constexpr int kBudget = 17;       // significant digits of the digit string
constexpr int kDefaultWidth = 25; // field of the default format
// Fixed switches to the scientific layout above this decimal exponent.
constexpr int kMaxFixedExponent = 35;

enum class Kind { Finite, PlusInf, MinusInf, NaN };

// Classifies by the bit pattern so that no comparison touches a NaN.
Kind Classify(REAL v) {
  unsigned char bytes[sizeof(REAL)];
  std::memcpy(bytes, &v, sizeof bytes);
  const unsigned exponent = (static_cast<unsigned>(bytes[9] & 0x7F) << 8) | bytes[8];
  if (exponent != 0x7FFF)
    return Kind::Finite;
  std::uint64_t mantissa;
  std::memcpy(&mantissa, bytes, sizeof mantissa);
  if ((mantissa << 1) != 0) // the explicit integer bit does not count
    return Kind::NaN;
  return (bytes[9] & 0x80) ? Kind::MinusInf : Kind::PlusInf;
}

// The decimal digits of a magnitude: digits[0] stands for 10^exponent,
// digits[i] for 10^(exponent - i). Positions beyond the string are zeros.
struct DigitString {
  std::string digits;
  int exponent = 0;
};

// Adds one unit to the last digit; a carry out of the first digit creates a
// new leading "1" one decade higher. An empty string stands for an implicit
// zero digit just above the first digit still to come.
void Carry(DigitString &s) {
  for (int i = static_cast<int>(s.digits.size()) - 1; i >= 0; --i) {
    if (s.digits[i] != '9') {
      ++s.digits[i];
      return;
    }
    s.digits[i] = '0';
  }
  s.digits.insert(s.digits.begin(), '1');
  ++s.exponent;
}

// `decimals` < 0 selects the default format's digit count; otherwise it is the
// d of fixed(w, d).
DigitString Convert(REAL magnitude, int decimals) {
  const bool fixed = decimals >= 0;
  DigitString s;

  // Only the top kBudget + 1 integer digits are ever needed, so only the last
  // values of the division chain are kept (the chain may be ~4933 long).
  constexpr int kRing = kBudget + 2;
  REAL saved[kRing];
  int n = 0; // integer digits
  REAL x = magnitude;
  while (x > 1.0L - kFuzz) {
    saved[n % kRing] = x;
    ++n;
    x = x / 10.0L;
  }
  saved[n % kRing] = x; // its integer part is 0: the digit above the first
  // Digit of saved value i (i = 0 the units): it minus ten times the integer
  // part of its tenth. Only called for i >= n - kBudget - 1, all below 10^18,
  // where the integer parts and the product are exact.
  auto digitOf = [&](int i) -> int {
    const REAL upper = std::truncl(saved[(i + 1) % kRing]);
    const REAL rest = saved[i % kRing] - 10.0L * upper;
    return static_cast<int>(std::truncl(rest));
  };

  const int produced = n < kBudget ? n : kBudget;
  for (int j = 0; j < produced; ++j)
    s.digits.push_back(static_cast<char>('0' + digitOf(n - 1 - j)));
  if (n > 0)
    s.exponent = n - 1;

  if (n > kBudget) {
    // The budget ran out inside the integer part: the remaining integer
    // digits are zeros and no fraction follows.
    if (digitOf(n - 1 - kBudget) >= 5)
      Carry(s);
    return s;
  }

  REAL fraction = magnitude - std::truncl(magnitude);
  int k = kBudget - n;
  if (fixed && decimals < k)
    k = decimals;

  if (n == 0 && fraction != 0.0L) {
    while (fraction < 0.1L - kFuzz) {
      fraction = fraction * 10.0L;
      --s.exponent;
      if (fixed)
        --k;
    }
    --s.exponent;
  }

  if (k < 0) // more leading zeros than decimals: the value shows as zero
    return s;

  if (fraction != 0.0L)
    fraction = fraction + kFuzz;
  REAL power = 1.0L;
  for (int i = 0; i < k; ++i)
    power = power * 10.0L;
  const REAL half = 0.5L / power;
  if (fraction >= half)
    fraction = fraction + half;
  if (fraction >= 1.0L) {
    Carry(s);
    fraction = fraction - std::truncl(fraction);
    if (!fixed) {
      --k;
      if (k == 0)
        s.digits.push_back('0');
    }
  }

  for (int i = 0; i < k; ++i) {
    // An exact 1.0 is also reduced: its unit already went into the digit
    // before, and keeping it would count it twice.
    if (fraction >= 1.0L)
      fraction = fraction - std::truncl(fraction);
    fraction = fraction * 10.0L;
    const int digit = static_cast<int>(std::truncl(fraction));
    if (digit >= 10) {
      Carry(s);
      s.digits.push_back('0');
    } else {
      s.digits.push_back(static_cast<char>('0' + digit));
    }
  }
  return s;
}

char DigitAt(const DigitString &s, int index) {
  if (index < 0 || index >= static_cast<int>(s.digits.size()))
    return '0';
  return s.digits[static_cast<std::size_t>(index)];
}

std::string PadLeft(std::string text, int width) {
  if (width > 0 && static_cast<int>(text.size()) < width)
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  return text;
}

std::string NonFinite(Kind kind, int width) {
  const char *text = kind == Kind::PlusInf ? "+Inf" : kind == Kind::MinusInf ? "-Inf" : "Nan";
  return PadLeft(text, width);
}

// " d.dddddddddddddddE+eeee": exactly 25 characters.
std::string Scientific(bool negative, const DigitString &s) {
  std::string text;
  text += negative ? '-' : ' ';
  text += DigitAt(s, 0);
  text += '.';
  for (int i = 1; i < kBudget; ++i)
    text += DigitAt(s, i);
  text += 'E';
  text += s.exponent < 0 ? '-' : '+';
  const int e = s.exponent < 0 ? -s.exponent : s.exponent;
  text += static_cast<char>('0' + e / 1000 % 10);
  text += static_cast<char>('0' + e / 100 % 10);
  text += static_cast<char>('0' + e / 10 % 10);
  text += static_cast<char>('0' + e % 10);
  return text;
}

} // namespace

std::string Fixed(REAL v, int w, int d) {
  const Kind kind = Classify(v);
  if (kind != Kind::Finite)
    return NonFinite(kind, w);
  if (d < 0)
    d = 0;
  const bool negative = std::signbit(v);
  const DigitString s = Convert(std::fabs(v), d);
  if (s.exponent > kMaxFixedExponent)
    return PadLeft(Scientific(negative, s), w);

  std::string text;
  if (negative)
    text += '-';
  if (s.exponent >= 0) {
    std::string integer;
    for (int i = 0; i <= s.exponent; ++i)
      integer += DigitAt(s, i);
    const std::size_t first = integer.find_first_not_of('0');
    text += first == std::string::npos ? std::string("0") : integer.substr(first);
  } else {
    text += '0';
  }
  if (d > 0) {
    text += '.';
    for (int j = 1; j <= d; ++j)
      text += DigitAt(s, s.exponent + j);
  }
  return PadLeft(std::move(text), w);
}

std::string DefaultFormat(REAL v) {
  const Kind kind = Classify(v);
  if (kind != Kind::Finite)
    return NonFinite(kind, kDefaultWidth);
  return Scientific(std::signbit(v), Convert(std::fabs(v), -1));
}

} // namespace zanfel
