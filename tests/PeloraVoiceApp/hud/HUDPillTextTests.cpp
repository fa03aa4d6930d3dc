#include "PeloraVoiceApp/hud/HUDPillText.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <clocale>
#include <locale>
#include <string>

namespace {

// A decimal comma, as a German desktop would have, in the C++ global locale, Qt's default
// locale and (where the system has it) the C library's numeric locale, which printf follows.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

class GermanLocale {
public:
    GermanLocale() : previousGlobal_(std::locale::global(std::locale(std::locale::classic(), new CommaDecimal))) {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        previousNumeric_ = std::setlocale(LC_NUMERIC, nullptr);
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    }
    ~GermanLocale() {
        std::setlocale(LC_NUMERIC, previousNumeric_.c_str());
        std::locale::global(previousGlobal_);
        QLocale::setDefault(QLocale::c());
    }

private:
    std::locale previousGlobal_;
    std::string previousNumeric_;
};

TEST(HUDPillTextTest, NumbersNeverFollowTheDesktopLocale) {
    GermanLocale german;
    struct Case {
        double seconds;
        const char* expected;
    };
    for (const Case& c : {Case{12.34, "12.3s"}, Case{0, "0.0s"}, Case{0.05, "0.1s"}, Case{59.96, "60.0s"},
                          Case{1234.5678, "1234.6s"}}) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(HUDPillText::elapsed(c.seconds), c.expected);
    }
    struct LatencyCase {
        double latencyMs;
        double rtfx;
        const char* expected;
    };
    for (const LatencyCase& c : {LatencyCase{1234.4, 12.6, "1234ms · 13×"}, LatencyCase{0, 0, "0ms · 0×"},
                                 LatencyCase{99.6, 0.4, "100ms · 0×"}, LatencyCase{12345678, 1500.2, "12345678ms · 1500×"}}) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(HUDPillText::latency(c.latencyMs, c.rtfx), c.expected);
    }
}

TEST(HUDPillTextTest, ResultLine) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"こんにちは", "こんにちは"},
        {"一行目\n二行目", "一行目 ↵ 二行目"},
        {"a\n\nb", "a ↵  ↵ b"},
        {"\n", "↵ 改行"},
        {"\n\n\r\n", "↵ 改行"},
        {"", "↵ 改行"},
        {" \t ", "↵ 改行"},
        {"\xE3\x80\x80", "↵ 改行"},      // ideographic space only
        {"\xE2\x80\xA8", "↵ 改行"},      // line separator only
        {"\xC2\xA0\n", "↵ 改行"},        // no-break space and a line feed
        {"\nx", " ↵ x"},
        {"x\xE3\x80\x80", "x\xE3\x80\x80"},  // text with trailing space is kept as it is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HUDPillText::resultLine(c.text), c.expected);
    }
}

TEST(HUDPillTextTest, TargetAndTooltip) {
    EXPECT_FALSE(HUDPillText::showsTarget(std::nullopt));
    EXPECT_FALSE(HUDPillText::showsTarget(std::string()));
    EXPECT_TRUE(HUDPillText::showsTarget(std::string("Editor")));
    EXPECT_EQ(HUDPillText::reinsertTooltip("⌥⇧V"), "現在フォーカスされている入力欄にもう一度挿入します (⌥⇧V)");
}

} // namespace
