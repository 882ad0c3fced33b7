// Numbers on the command line and the --oc rate lists.
//
// A range FROM:TO:STEP is stepped in exact decimal arithmetic: the three
// bounds become fixed-point digit strings, FROM + i STEP is formed by exact
// digit additions, and only the decimal text of each rate is rounded, once,
// to the nearest double. So 0.05:0.2:0.05 gives the doubles nearest 0.05,
// 0.1, 0.15 and 0.2, and TO is reached exactly when it lies on the grid,
// which repeated double additions cannot promise.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>

#include "cli/internal.h"

namespace cli {

namespace {

// A decimal number as written: value = (-1)^negative * digits * 10^exponent.
struct decimal {
  bool negative = false;
  std::string digits;  // without leading zeros; empty for zero
  long exponent = 0;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Exponents beyond this are held at it: the value is then far outside (0, 1)
// or has far too many places, and is refused either way. It exceeds any
// token's length, so that digits cannot outweigh a held exponent, and ten
// times it still fits a long.
constexpr long exponent_cap = 1'000'000'000'000;

std::optional<decimal> parse_decimal(std::string_view t) {
  decimal d;
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) d.negative = t[i++] == '-';
  std::string mantissa;
  long places = 0;
  bool any_digit = false;
  for (; i < t.size() && is_digit(t[i]); ++i, any_digit = true) mantissa += t[i];
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && is_digit(t[i]); ++i, any_digit = true) {
      mantissa += t[i];
      ++places;
    }
  }
  if (!any_digit) return std::nullopt;
  long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    if (i == t.size()) return std::nullopt;
    for (; i < t.size() && is_digit(t[i]); ++i)
      exponent = std::min(exponent_cap, exponent * 10 + (t[i] - '0'));
    if (negative) exponent = -exponent;
  }
  if (i != t.size()) return std::nullopt;
  const auto first = mantissa.find_first_not_of('0');
  if (first == std::string::npos) return d;  // zero
  const auto last = mantissa.find_last_not_of('0');
  d.digits = mantissa.substr(first, last - first + 1);
  d.exponent = exponent - places + static_cast<long>(mantissa.size() - 1 - last);
  return d;
}

// Whether d, exactly, lies strictly between 0 and 1. digits has no leading
// zero, so the value is 1 or more exactly when its leading digit stands at
// 10^0 or above.
bool inside_0_1(const decimal& d) {
  return !d.negative && !d.digits.empty() && static_cast<long>(d.digits.size()) + d.exponent <= 0;
}

// A non-negative fixed-point number: int_digits integer digits, then
// max_range_places decimal places, as decimal characters, most significant
// first. Equal lengths make the string order the numeric order.
constexpr int int_digits = 2;
using fixed = std::string;

// Parentheses, not braces: a braced list would build a two-character string.
fixed zero_fixed() {
  return fixed(int_digits + max_range_places, '0');  // NOLINT(modernize-return-braced-init-list)
}

// d as fixed, or nullopt when it has more places than fixed holds or is 100
// or more.
std::optional<fixed> to_fixed(const decimal& d) {
  fixed f = zero_fixed();
  const long n = static_cast<long>(d.digits.size());
  for (long k = 0; k < n; ++k) {
    const long power = d.exponent + (n - 1 - k);  // the digit stands for 10^power
    if (power >= int_digits || power < -max_range_places) return std::nullopt;
    f[static_cast<std::size_t>(int_digits - 1 - power)] = d.digits[static_cast<std::size_t>(k)];
  }
  return f;
}

void add(fixed& a, const fixed& b) {
  int carry = 0;
  for (std::size_t i = a.size(); i-- > 0;) {
    const int s = (a[i] - '0') + (b[i] - '0') + carry;
    a[i] = static_cast<char>('0' + s % 10);
    carry = s / 10;
  }
  // a stays below TO + STEP < 2 while stepping: no carry out.
}

std::string text_of(const fixed& f) { return f.substr(0, int_digits) + "." + f.substr(int_digits); }

double nearest_double(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// A single rate: a number whose double lies strictly between 0 and 1.
double single_rate(const std::string& item) {
  const auto v = parse_number(item);
  if (!v) throw error("--oc: '" + shown(item) + "' is not a number or a range FROM:TO:STEP");
  if (!(*v > 0.0 && *v < 1.0))
    throw error("--oc: every rate must be strictly between 0 and 1, got " + item +
                rounding_note(item, *v));
  return *v;
}

// A bound or step of a range, strictly between 0 and 1 in exact decimal and
// as a double.
fixed range_part(const std::string& item, const std::string& part, const char* name) {
  const auto d = parse_decimal(part);
  if (!d) throw error("--oc: in '" + shown(item) + "', " + name + " '" + shown(part) + "' is not a number");
  if (!inside_0_1(*d))
    throw error("--oc: in '" + shown(item) + "', " + name + " must be strictly between 0 and 1, got " + part);
  const auto f = to_fixed(*d);
  if (!f)
    throw error("--oc: in '" + shown(item) + "', " + name + " " + part + " has more than " +
                std::to_string(max_range_places) + " decimal places");
  const double v = nearest_double(text_of(*f));
  if (!(v > 0.0 && v < 1.0))
    throw error("--oc: in '" + shown(item) + "', " + name + " " + part +
                " rounds to " + (v > 0.0 ? "1" : "0") + " as a double");
  return *f;
}

void append_range(std::vector<double>& rates, const std::string& item) {
  const auto c1 = item.find(':');
  const auto c2 = item.find(':', c1 + 1);
  if (c2 == std::string::npos || item.find(':', c2 + 1) != std::string::npos)
    throw error("--oc: '" + shown(item) + "' is not a range FROM:TO:STEP");
  const fixed from = range_part(item, trimmed(item.substr(0, c1)), "FROM");
  const fixed to = range_part(item, trimmed(item.substr(c1 + 1, c2 - c1 - 1)), "TO");
  const fixed step = range_part(item, trimmed(item.substr(c2 + 1)), "STEP");
  if (from > to) throw error("--oc: in '" + shown(item) + "', FROM is greater than TO");
  for (fixed x = from; x <= to; add(x, step)) {
    if (rates.size() == max_rates)
      throw error("--oc: more than " + std::to_string(max_rates) + " rates");
    rates.push_back(nearest_double(text_of(x)));
  }
}

}  // namespace

std::string trimmed(std::string_view text) {
  const auto b = text.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const auto e = text.find_last_not_of(" \t");
  return std::string(text.substr(b, e - b + 1));
}

std::string shown(std::string_view text) {
  constexpr std::size_t longest = 40;
  std::string s;
  for (const char c : text.substr(0, longest)) s += c >= ' ' && c <= '~' ? c : '?';
  return text.size() > longest ? s + "..." : s;
}

std::string rounding_note(std::string_view token, double v) {
  if ((v > 0.0 && v < 1.0) || !decimal_inside_0_1(token)) return {};
  return std::string(", which rounds to ") + (v > 0.0 ? "1" : "0") + " as a double";
}

std::vector<double> full_grid(double theta) {
  constexpr int steps = 20;  // the grid is i / 20, i = 1..19
  std::vector<double> rates;
  for (int i = 1; i < steps; ++i) rates.push_back(i / static_cast<double>(steps));
  // i / 20 is one correctly rounded division: the double nearest i x 0.05.
  if (std::find(rates.begin(), rates.end(), theta) == rates.end())
    rates.insert(std::upper_bound(rates.begin(), rates.end(), theta), theta);
  return rates;
}

std::optional<int> parse_int(std::string_view token) {
  std::size_t i = token.size() > 1 && token[0] == '+' ? 1 : 0;
  int v = 0;
  const auto [end, ec] = std::from_chars(token.data() + i, token.data() + token.size(), v);
  if (ec != std::errc() || end != token.data() + token.size() || i == token.size()) return std::nullopt;
  return v;
}

std::optional<double> parse_number(std::string_view token) {
  if (!parse_decimal(token)) return std::nullopt;
  const std::string text(token);
  return std::strtod(text.c_str(), nullptr);
}

bool decimal_inside_0_1(std::string_view token) {
  const auto d = parse_decimal(token);
  return d && inside_0_1(*d);
}

std::vector<double> parse_rates(std::string_view text) {
  std::vector<double> rates;
  std::size_t start = 0;
  for (;;) {
    const auto comma = text.find(',', start);
    const std::string item = trimmed(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (item.empty()) throw error("--oc: empty item in '" + shown(text) + "'; give rates separated by commas");
    if (item.find(':') != std::string::npos) {
      append_range(rates, item);
    } else {
      if (rates.size() == max_rates)
        throw error("--oc: more than " + std::to_string(max_rates) + " rates");
      rates.push_back(single_rate(item));
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return rates;
}

namespace {

// A patient number of --looks: digits only, from 1 to K.
int look_number(const std::string& item, const std::string& part, int K) {
  const bool digits = !part.empty() && std::all_of(part.begin(), part.end(), is_digit);
  const auto v = digits ? parse_int(part) : std::nullopt;
  if (!v) throw error("--looks: in '" + shown(item) + "', '" + shown(part) + "' is not a whole number");
  if (*v < 1 || *v > K)
    throw error("--looks: every look must be a patient number from 1 to K (" + std::to_string(K) +
                "), got " + part);
  return *v;
}

}  // namespace

std::vector<int> parse_looks(std::string_view text, int K) {
  std::vector<int> looks;
  const auto add_look = [&](const std::string& item, int n) {
    if (!looks.empty() && n <= looks.back())
      throw error("--looks: the looks must increase strictly, got " + std::to_string(n) + " after " +
                  std::to_string(looks.back()) + " in '" + shown(item) + "'");
    looks.push_back(n);
  };
  std::size_t start = 0;
  for (;;) {
    const auto comma = text.find(',', start);
    const std::string item =
        trimmed(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (item.empty())
      throw error("--looks: empty item in '" + shown(text) +
                  "'; give patient numbers and ranges FROM:TO:STEP separated by commas");
    const auto c1 = item.find(':');
    if (c1 == std::string::npos) {
      add_look(item, look_number(item, item, K));
    } else {
      const auto c2 = item.find(':', c1 + 1);
      if (c2 == std::string::npos || item.find(':', c2 + 1) != std::string::npos)
        throw error("--looks: '" + item + "' is not a range FROM:TO:STEP");
      const int from = look_number(item, trimmed(item.substr(0, c1)), K);
      const int to = look_number(item, trimmed(item.substr(c1 + 1, c2 - c1 - 1)), K);
      const std::string step_text = trimmed(item.substr(c2 + 1));
      const bool digits =
          !step_text.empty() && std::all_of(step_text.begin(), step_text.end(), is_digit);
      const auto step = digits ? parse_int(step_text) : std::nullopt;
      if (!step || *step < 1)
        throw error(std::string("--looks: in '").append(shown(item)).append(
            "', STEP must be a whole number from 1, got '").append(shown(step_text)).append("'"));
      if (from > to) throw error("--looks: in '" + shown(item) + "', FROM is greater than TO");
      // Stepped in long long: TO + STEP may pass the largest int.
      for (long long n = from; n <= to; n += *step) add_look(item, static_cast<int>(n));
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return looks;
}

std::string looks_text(std::span<const int> looks) {
  std::string text;
  std::size_t i = 0;
  while (i < looks.size()) {
    // The longest arithmetic run from i; three or more looks make a range.
    std::size_t j = i + 1;
    if (j < looks.size()) {
      const int step = looks[j] - looks[i];
      while (j + 1 < looks.size() && looks[j + 1] - looks[j] == step) ++j;
      if (j - i < 2) j = i;
    } else {
      j = i;
    }
    if (!text.empty()) text += ",";
    if (j > i) {
      const int step = looks[i + 1] - looks[i];
      text += std::to_string(looks[i]) + ":" + std::to_string(looks[j]) + ":" + std::to_string(step);
      i = j + 1;
    } else {
      text += std::to_string(looks[i]);
      ++i;
    }
  }
  return text;
}

}  // namespace cli
