#include "PeloraVoiceApp/hud/HUDPlacement.h"

#include <gtest/gtest.h>

#include <ostream>

// Failing cases print points and rectangles readably.
static void PrintTo(const HUDPoint& p, std::ostream* out) { *out << "(" << p.x << ", " << p.y << ")"; }
static void PrintTo(const HUDRect& r, std::ostream* out) {
    *out << "(" << r.x << ", " << r.y << " " << r.width << "x" << r.height << ")";
}

namespace {

constexpr HUDSize pill{520, 68};

// A 1280 × 800 monitor whose bottom 30 pixels hold a tray; the usable area ends at 770.
HUDScreen monitor(double left, double top = 0, double width = 1280, double height = 800, double tray = 30) {
    return {{left, top, width, height}, {left, top, width, height - tray}};
}

struct Case {
    const char* name;
    std::vector<HUDScreen> screens;
    std::optional<HUDPoint> pointer;
    std::optional<HUDRect> anchor;
    HUDPoint expected;
};

TEST(HUDPlacementTest, PlacesThePillAsTheCaretAndScreensRequire) {
    const std::vector<HUDScreen> one{monitor(0)};
    const std::vector<HUDScreen> two{monitor(0), monitor(1280)};
    const HUDPoint pointerOnFirst{100, 100};
    const HUDPoint pointerOnSecond{1500, 400};
    const Case cases[] = {
        {"no screen at all", {}, pointerOnFirst, HUDRect{600, 300, 2, 17}, {400, 80}},
        {"no caret and no field: bottom centre, 44 above the usable bottom", one, pointerOnFirst, std::nullopt,
         {380, 770 - 44 - 68}},
        {"caret mid-text: centred, 12 below its bottom", one, pointerOnFirst, HUDRect{600, 300, 2, 20},
         {601 - 260 + 9, 332}},
        {"caret narrower than 20 is centred as 20 wide", one, pointerOnFirst, HUDRect{600, 300, 1, 17},
         {350, 329}},
        {"empty caret counts as 20 x 18 but keeps its bottom", one, pointerOnFirst, HUDRect{600, 300, 0, 0},
         {350, 312}},
        {"focused field frame as anchor", one, pointerOnFirst, HUDRect{100, 200, 400, 30}, {40, 242}},
        {"near the right edge: 16 inside", one, pointerOnFirst, HUDRect{1270, 300, 2, 17}, {1280 - 16 - 520, 329}},
        {"near the left edge: 16 inside", one, pointerOnFirst, HUDRect{5, 300, 2, 17}, {16, 329}},
        {"bottom margin exactly held: still below", one, pointerOnFirst, HUDRect{600, 657, 2, 17}, {350, 686}},
        {"one pixel lower: above, 12 over the anchor's top", one, pointerOnFirst, HUDRect{600, 658, 2, 17},
         {350, 675 - 18 - 12 - 68}},
        {"near the bottom: above the caret", one, pointerOnFirst, HUDRect{600, 700, 2, 20}, {350, 700 - 12 - 68}},
        {"no room above either: 16 below the usable top", {monitor(0, 0, 1280, 130, 30)}, pointerOnFirst,
         HUDRect{600, 50, 2, 17}, {350, 16}},
        {"usable area narrower than the pill: left margin wins", {monitor(0, 0, 500, 800, 30)}, pointerOnFirst,
         HUDRect{250, 300, 2, 17}, {16, 329}},
        {"anchor far off this screen: fallback", one, pointerOnFirst, HUDRect{3000, 300, 2, 17}, {380, 658}},
        {"anchor within 200 of the screen counts", one, pointerOnFirst, HUDRect{1470, 300, 2, 17}, {744, 329}},
        {"anchor whose reach only touches the screen: fallback", one, pointerOnFirst, HUDRect{1480, 300, 2, 17},
         {380, 658}},
        {"two monitors, caret on the pointer's", two, pointerOnSecond, HUDRect{2000, 300, 2, 17},
         {2010 - 260, 329}},
        {"two monitors, caret on the other: fallback on the pointer's", two, pointerOnSecond,
         HUDRect{600, 300, 2, 17}, {1280 + 640 - 260, 658}},
        {"two monitors, caret near the pointer monitor's left edge", two, pointerOnSecond, HUDRect{1285, 300, 2, 17},
         {1296, 329}},
        {"pointer on no monitor: the primary", two, HUDPoint{-50, -50}, std::nullopt, {380, 658}},
        {"pointer unknown: the primary", two, std::nullopt, HUDRect{600, 300, 2, 17}, {350, 329}},
        {"pointer on the second monitor's first column", two, HUDPoint{1280, 0}, std::nullopt, {1660, 658}},
        {"pointer on the first monitor's last column", two, HUDPoint{1279, 799}, std::nullopt, {380, 658}},
        {"monitor left of the primary (negative x)", {monitor(0), monitor(-1280)}, HUDPoint{-600, 400},
         HUDRect{-700, 300, 2, 17}, {-699 + 10 - 260 - 1, 329}},
        {"monitor with a tray at the top", {{{0, 0, 1280, 800}, {0, 40, 1280, 760}}}, pointerOnFirst,
         HUDRect{600, 45, 2, 17}, {350, 74}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto anchor = c.anchor;
        const HUDPoint origin =
            HUDPlacement::computeAnchoredOrigin(pill, c.screens, c.pointer, [anchor] { return anchor; });
        EXPECT_EQ(origin, c.expected);
    }
}

TEST(HUDPlacementTest, AsksForTheAnchorOnlyWhenThereIsAScreen) {
    int lookups = 0;
    auto lookup = [&] {
        ++lookups;
        return std::optional<HUDRect>{};
    };
    HUDPlacement::computeAnchoredOrigin(pill, {}, HUDPoint{}, lookup);
    EXPECT_EQ(lookups, 0);
    HUDPlacement::computeAnchoredOrigin(pill, {monitor(0)}, HUDPoint{}, lookup);
    EXPECT_EQ(lookups, 1);
}

TEST(HUDPlacementTest, AnchorIsTheCaretElseTheFieldAndAStalledCaretQuerySkipsTheField) {
    using namespace std::chrono_literals;
    const HUDRect caret{10, 20, 2, 18};
    const HUDRect field{0, 0, 300, 30};
    struct Case {
        const char* name;
        std::optional<HUDRect> caret;
        std::chrono::milliseconds caretTakes;
        std::optional<HUDRect> field;
        std::optional<HUDRect> expected;
        int fieldQueries;
    };
    const Case cases[] = {
        {"caret known", caret, 5ms, field, caret, 0},
        {"no caret: the field", std::nullopt, 5ms, field, field, 1},
        {"neither", std::nullopt, 5ms, std::nullopt, std::nullopt, 1},
        {"slow but answering", std::nullopt, 699ms, field, field, 1},
        {"caret query timed out: no second wait", std::nullopt, 700ms, field, std::nullopt, 0},
        {"a late caret still counts", caret, 900ms, field, caret, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::chrono::steady_clock::duration clock{};
        int fieldQueries = 0;
        const auto anchor = HUDPlacement::lookUpAnchor(
            [&] {
                clock += c.caretTakes;
                return c.caret;
            },
            [&] {
                ++fieldQueries;
                return c.field;
            },
            [&] { return clock; }, 700ms);
        EXPECT_EQ(anchor, c.expected);
        EXPECT_EQ(fieldQueries, c.fieldQueries);
    }
}

TEST(HUDPlacementTest, AnchorGrowsUpwardAndRightToItsMinimum) {
    struct AnchorCase {
        HUDRect reported;
        HUDRect expected;
    };
    const AnchorCase cases[] = {
        {{10, 100, 0, 0}, {10, 82, 20, 18}},
        {{10, 100, 2, 30}, {10, 100, 20, 30}},
        {{10, 100, 300, 10}, {10, 92, 300, 18}},
        {{10, 100, 300, 40}, {10, 100, 300, 40}},
    };
    for (const AnchorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.reported.x << "," << c.reported.y << " " << c.reported.width << "x"
                                        << c.reported.height);
        EXPECT_EQ(HUDPlacement::anchorRect(c.reported), c.expected);
    }
}

} // namespace
