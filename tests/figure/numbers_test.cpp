// Scales, tick steps and the text of numbers and names: the steps a reader
// expects, tick values that are exactly their decimals, and text that is
// always safe inside XML.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "figure/figure.h"

namespace {

using figure::fixed;
using figure::general;
using figure::nice_axis;
using figure::nice_step;
using figure::nice_ticks;
using figure::xml_escape;

TEST(Scale, MapsBothWaysAndRunsBackwardsForY) {
  const figure::linear_scale x{0, 1, 84, 700};
  EXPECT_DOUBLE_EQ(x(0), 84);
  EXPECT_DOUBLE_EQ(x(1), 700);
  EXPECT_DOUBLE_EQ(x(0.25), 238);
  const figure::linear_scale y{0, 20, 282, 112};  // the page's y grows downwards
  EXPECT_DOUBLE_EQ(y(0), 282);
  EXPECT_DOUBLE_EQ(y(20), 112);
  EXPECT_LT(y(15), y(5));
  for (const double v : {-3.0, 0.0, 0.123456789, 7.5, 19.99, 25.0})
    EXPECT_NEAR(y.invert(y(v)), v, 1e-12);
}

TEST(Ticks, StepsAreOneTwoOrFiveTimesAPowerOfTen) {
  EXPECT_DOUBLE_EQ(nice_step(1, 10), 0.1);
  EXPECT_DOUBLE_EQ(nice_step(1, 5), 0.2);
  EXPECT_DOUBLE_EQ(nice_step(1, 2), 0.5);
  EXPECT_DOUBLE_EQ(nice_step(11, 10), 2);
  EXPECT_DOUBLE_EQ(nice_step(21, 10), 5);
  EXPECT_DOUBLE_EQ(nice_step(256, 10), 50);
  EXPECT_DOUBLE_EQ(nice_step(0.003, 6), 0.0005);
  EXPECT_DOUBLE_EQ(nice_step(1e6, 4), 5e5);
  // Patients and counts are whole: never a step below one.
  EXPECT_DOUBLE_EQ(nice_step(2, 10, true), 1);
  EXPECT_DOUBLE_EQ(nice_step(0.5, 10, true), 1);

  // Over spans of every size: the step fits and the next smaller nice step
  // would not.
  std::mt19937_64 rng(13);
  std::uniform_real_distribution<double> exponent(-6, 6);
  for (int i = 0; i < 2000; ++i) {
    const double span = std::pow(10.0, exponent(rng));
    const int count = 2 + i % 9;
    const double s = nice_step(span, count);
    const double e = std::floor(std::log10(s) + 1e-9);
    const double m = s / std::pow(10.0, e);
    ASSERT_TRUE(std::abs(m - 1) < 1e-9 || std::abs(m - 2) < 1e-9 || std::abs(m - 5) < 1e-9)
        << "span " << span << " step " << s;
    ASSERT_LE(span / s, count * (1 + 1e-9)) << span;
    const double smaller =
        std::abs(m - 1) < 1e-9 ? 0.5 * s : (std::abs(m - 2) < 1e-9 ? s / 2 : s * 0.4);
    ASSERT_GT(span / smaller, count * (1 + 1e-9)) << span;
  }
}

TEST(Ticks, ValuesAreTheDoublesOfTheirDecimals) {
  const figure::tick_set t = nice_ticks(0, 1, 10);
  ASSERT_EQ(t.values.size(), 11u);
  const std::vector<double> expected{0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0};
  EXPECT_EQ(t.values, expected);  // exact: 0.3, not 3 * 0.1
  EXPECT_EQ(t.decimals, 1);

  const figure::tick_set inner = nice_ticks(0.05, 0.95, 9);
  EXPECT_EQ(inner.values.front(), 0.1);
  EXPECT_EQ(inner.values.back(), 0.9);

  const figure::tick_set patients = nice_ticks(0, 256, 10, true);
  EXPECT_EQ(patients.step, 50);
  EXPECT_EQ(patients.values.back(), 250);
  EXPECT_EQ(patients.decimals, 0);

  const figure::tick_set small = nice_ticks(0, 0.003, 6);
  EXPECT_EQ(small.values.at(3), 0.0015);
  EXPECT_EQ(small.decimals, 4);
}

TEST(Ticks, AxisCoversItsRangeWithWholeSteps) {
  EXPECT_EQ(nice_axis(0, 7, 6, true).values, (std::vector<double>{0, 2, 4, 6, 8}));
  EXPECT_EQ(nice_axis(0, 10.8, 6, true).values.back(), 12);
  EXPECT_EQ(nice_axis(0, 10, 5, true).values.back(), 10);  // a tick on the end stays the end
  EXPECT_EQ(nice_axis(-0.3, 0.3, 6).values,
            (std::vector<double>{-0.3, -0.2, -0.1, 0, 0.1, 0.2, 0.3}));
  EXPECT_EQ(nice_axis(0, 275.4, 6, true).values.back(), 300);
}

TEST(Numbers, FixedIsShortExactAndNeverNegativeZero) {
  EXPECT_EQ(fixed(0.1 + 0.2, 2), "0.3");
  EXPECT_EQ(fixed(123.456, 2), "123.46");
  EXPECT_EQ(fixed(1.005, 2), "1");  // 1.005 is stored below the half
  EXPECT_EQ(fixed(100, 2), "100");
  EXPECT_EQ(fixed(-0.001, 2), "0");
  EXPECT_EQ(fixed(-0.0, 2), "0");
  EXPECT_EQ(fixed(-12.5, 0), "-12");  // ties to even, as printf
  EXPECT_EQ(fixed(0.25, 1), "0.2");
  EXPECT_EQ(fixed(std::nan(""), 2), "0");
  EXPECT_EQ(fixed(INFINITY, 2), "0");
  EXPECT_EQ(fixed(1e300, 2).size(), 301u);
}

TEST(Numbers, GeneralPrintsAsPercentG) {
  for (const double v : {0.2, 0.0421258, 0.0299967432, 1e-5, 1.23e-5, 123456789.0, 0.123456789,
                         255.0, 1.0, 0.999999, 0.9999995, 5e-324}) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    EXPECT_EQ(general(v), buf) << v;
    std::snprintf(buf, sizeof buf, "%.3g", v);
    EXPECT_EQ(general(v, 3), buf) << v;
  }
}

TEST(Text, EscapesMarkupAndKeepsUtf8) {
  EXPECT_EQ(xml_escape("a<b>&\"c\"'d'"), "a&lt;b&gt;&amp;&quot;c&quot;&#39;d&#39;");
  EXPECT_EQ(xml_escape("</svg><script>x</script>"), "&lt;/svg&gt;&lt;script&gt;x&lt;/script&gt;");
  EXPECT_EQ(xml_escape("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(xml_escape(""), "");
}

TEST(Text, ReplacesWhatXmlCannotHold) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(xml_escape("a\x01z"), "a" + fffd + "z");
  EXPECT_EQ(xml_escape("line\nbreak\ttab"), "line" + fffd + "break" + fffd + "tab");
  EXPECT_EQ(xml_escape(std::string("nul\0x", 5)), "nul" + fffd + "x");
  EXPECT_EQ(xml_escape("\x7F"), fffd);
  EXPECT_EQ(xml_escape("\xFF\xFE"), fffd + fffd);                        // not UTF-8 at all
  EXPECT_EQ(xml_escape("\xC3"), fffd);                                   // cut short at the end
  EXPECT_EQ(xml_escape("\xE2\x82z"), fffd + fffd + "z");                 // cut short inside
  EXPECT_EQ(xml_escape("\xC0\xAF"), fffd + fffd);                        // overlong '/'
  EXPECT_EQ(xml_escape("\xED\xA0\x80"), fffd + fffd + fffd);             // a surrogate
  EXPECT_EQ(xml_escape("\xC2\x85"), fffd);                               // a C1 control
  EXPECT_EQ(xml_escape("\xEF\xBF\xBE"), fffd);                           // U+FFFE
  EXPECT_EQ(xml_escape("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // above U+10FFFF

  // Whatever the bytes, the result is valid UTF-8 without controls or markup.
  std::mt19937 rng(7);
  for (int i = 0; i < 500; ++i) {
    std::string s(1 + i % 40, ' ');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    const std::string e = xml_escape(s);
    ASSERT_EQ(xml_escape(e), [&] {
      // Escaping again only re-escapes the ampersands of the references.
      std::string expected;
      for (const char c : e) expected += c == '&' ? std::string("&amp;") : std::string(1, c);
      return expected;
    }());
    for (const char c : e) {
      ASSERT_NE(c, '<');
      ASSERT_GE(static_cast<unsigned char>(c), 0x20);
    }
  }
}

}  // namespace
