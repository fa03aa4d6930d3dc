#pragma once
#include "PeloraVoiceApp/hud/HUDGeometry.h"

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

// One monitor as the toolkit reports it: its whole area and the part windows may use
// (without panels and trays).
struct HUDScreen {
    HUDRect geometry;
    HUDRect availableGeometry;
};

// Where the overlay goes: just below the caret of the focused field, above it near the
// bottom of the screen, at the bottom centre when no caret or field is known. Pure
// arithmetic in top-left coordinates; the panel supplies the screens, the pointer and the
// anchor look-up.
namespace HUDPlacement {

inline constexpr HUDPoint noScreenOrigin{400, 80};
inline constexpr HUDSize minimumAnchorSize{20, 18};
inline constexpr double edgeMargin = 16;
inline constexpr double anchorGap = 12;
inline constexpr double fallbackBottomGap = 44;
inline constexpr double anchorReach = 200;

// The first screen (in the toolkit's order) containing the pointer, else the first
// (primary) one; nothing when there are no screens.
std::optional<HUDScreen> screenForPointer(const std::vector<HUDScreen>& screens, std::optional<HUDPoint> pointer);

// A caret or field rectangle made at least 20 × 18. The bottom edge stays where it is and
// the rectangle grows upward, so "below the anchor" is below the caret's own bottom.
HUDRect anchorRect(const HUDRect& reported);

// Horizontally centred, 44 above the bottom of the usable area.
HUDPoint fallbackOrigin(const HUDRect& visible, HUDSize window);

// Below the anchor (12 apart), kept 16 inside the usable area; above it when the bottom
// margin would not hold; the fallback when there is no anchor or it lies more than 200
// away from the usable area (on another monitor).
HUDPoint anchoredOrigin(const HUDRect& visible, std::optional<HUDRect> reportedAnchor, HUDSize window);

// The anchor: the caret's bounds, else the focused field's frame. A caret query that took
// `stall` or longer ran into the accessibility time-out (a hung application); the frame
// query would hang as long again, so it is skipped.
using AnchorQuery = std::function<std::optional<HUDRect>()>;
std::optional<HUDRect> lookUpAnchor(const AnchorQuery& caretBounds, const AnchorQuery& focusedElementFrame,
                                    const std::function<std::chrono::steady_clock::duration()>& now,
                                    std::chrono::milliseconds stall);

// The whole decision. `anchorLookup` is asked only when a screen exists.
HUDPoint computeAnchoredOrigin(HUDSize window, const std::vector<HUDScreen>& screens,
                               std::optional<HUDPoint> pointer,
                               const std::function<std::optional<HUDRect>()>& anchorLookup);

} // namespace HUDPlacement
