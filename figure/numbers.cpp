// Scales, tick steps and the text of numbers and names in the figure and the
// report: everything here is exact about decimals and independent of the
// locale, so that a figure is a pure function of its numbers.
#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "figure/figure.h"
#include "figure/internal.h"

namespace figure {

namespace {

// Exact powers of ten as doubles reach 10^22; tick exponents stay far inside.
constexpr int max_exponent = 22;

double power_of_ten(int e) {
  assert(e >= 0 && e <= max_exponent);
  double p = 1;
  for (int i = 0; i < e; ++i) p *= 10;
  return p;
}

// n * 10^e as the double nearest that decimal: one correctly rounded
// operation on exact operands.
double decimal(double n, int e) { return e >= 0 ? n * power_of_ten(e) : n / power_of_ten(-e); }

// A step is m * 10^e with m in {1, 2, 5}.
struct step_parts {
  int mantissa;
  int exponent;
};

// Spans that fit their count up to rounding still fit: 1 / 0.1 may come out
// a hair above 10.
constexpr double fit_slack = 1e-9;

step_parts step_for(double span, int max_intervals, bool integer) {
  assert(span > 0 && std::isfinite(span) && max_intervals >= 1);
  int e = static_cast<int>(std::floor(std::log10(span / max_intervals)));
  if (integer && e < 0) e = 0;
  e = std::clamp(e, -max_exponent, max_exponent - 1);
  constexpr std::array<int, 3> mantissas{1, 2, 5};
  for (;; ++e) {
    const auto* const fits = std::find_if(mantissas.begin(), mantissas.end(), [&](int m) {
      return span / decimal(m, e) <= max_intervals * (1 + fit_slack);
    });
    if (fits != mantissas.end()) return {*fits, e};
    if (e + 1 >= max_exponent) return {5, e};
  }
}

void append_replacement(std::string& out) { out += "\xEF\xBF\xBD"; }

// The length of the UTF-8 sequence at s[i] when XML allows its character;
// the negated length of a well-formed sequence whose character XML excludes;
// 0 for a byte that starts no well-formed sequence.
int xml_char_length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return b0 >= 0x20 && b0 != 0x7F ? 1 : 0;
  int len = 0;
  std::uint32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0Fu;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07u;
  } else {
    return 0;
  }
  if (i + static_cast<std::size_t>(len) > s.size()) return 0;
  for (std::size_t k = 1; k < static_cast<std::size_t>(len); ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  constexpr std::array<std::uint32_t, 5> shortest{0, 0, 0x80, 0x800, 0x10000};
  const bool overlong = cp < shortest[len];
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  if (overlong || surrogate || cp > 0x10FFFF) return 0;
  // C1 controls and the two non-characters XML excludes.
  const bool excluded = (cp >= 0x80 && cp <= 0x9F) || cp == 0xFFFE || cp == 0xFFFF;
  return excluded ? -len : len;
}

}  // namespace

double linear_scale::operator()(double v) const { return p0 + (v - d0) * ((p1 - p0) / (d1 - d0)); }

double linear_scale::invert(double p) const { return d0 + (p - p0) * ((d1 - d0) / (p1 - p0)); }

double nice_step(double span, int max_intervals, bool integer) {
  const step_parts s = step_for(span, max_intervals, integer);
  return decimal(s.mantissa, s.exponent);
}

namespace {

// Ticks at the multiples of the nice step from lo to hi: inside [lo, hi]
// (`outward` false) or the smallest run of them covering it.
tick_set ticks_between(double lo, double hi, int max_intervals, bool integer, bool outward) {
  assert(lo < hi);
  const step_parts s = step_for(hi - lo, max_intervals, integer);
  tick_set t;
  t.step = decimal(s.mantissa, s.exponent);
  t.decimals = s.exponent < 0 ? -s.exponent : 0;
  const double a = lo / t.step;
  const double b = hi / t.step;
  const auto first = static_cast<long long>(outward ? std::floor(a + fit_slack) : std::ceil(a - fit_slack));
  const auto last = static_cast<long long>(outward ? std::ceil(b - fit_slack) : std::floor(b + fit_slack));
  for (long long i = first; i <= last; ++i)
    t.values.push_back(decimal(static_cast<double>(i * s.mantissa), s.exponent));
  return t;
}

}  // namespace

tick_set nice_ticks(double lo, double hi, int max_intervals, bool integer) {
  return ticks_between(lo, hi, max_intervals, integer, false);
}

tick_set nice_axis(double lo, double hi, int max_intervals, bool integer) {
  return ticks_between(lo, hi, max_intervals, integer, true);
}

std::string fixed(double v, int decimals) {
  if (!std::isfinite(v)) return "0";
  std::string s = internal::fixed_places(v, std::clamp(decimals, 0, 17));
  if (s.find('.') != std::string::npos) {
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
  }
  return s;
}

std::string general(double v, int digits) {
  std::array<char, 64> buf{};
  const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v,
                                       std::chars_format::general, std::clamp(digits, 1, 17));
  assert(ec == std::errc{});
  return {buf.data(), end};
}

std::string xml_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    switch (text[i]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default: {
        const int len = xml_char_length(text, i);
        if (len <= 0) {
          append_replacement(out);
          i += len == 0 ? 1 : static_cast<std::size_t>(-len);
        } else {
          out.append(text.substr(i, static_cast<std::size_t>(len)));
          i += static_cast<std::size_t>(len);
        }
        continue;
      }
    }
    ++i;
  }
  return out;
}

namespace internal {

std::string fixed_places(double v, int places) {
  assert(places >= 0 && places <= 17);
  // 309 integer digits, a sign, a point and the decimals.
  std::array<char, 360> buf{};
  const auto [end, ec] =
      std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, places);
  assert(ec == std::errc{});
  std::string s(buf.data(), end);
  if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

}  // namespace internal

}  // namespace figure
