#include "PeloraVoiceApp/hud/HUDPlacement.h"

#include <algorithm>

namespace HUDPlacement {

std::optional<HUDScreen> screenForPointer(const std::vector<HUDScreen>& screens, std::optional<HUDPoint> pointer) {
    if (screens.empty())
        return std::nullopt;
    if (pointer) {
        for (const HUDScreen& screen : screens)
            if (screen.geometry.contains(*pointer))
                return screen;
    }
    return screens.front();
}

HUDRect anchorRect(const HUDRect& reported) {
    const double width = std::max(reported.width, minimumAnchorSize.width);
    const double height = std::max(reported.height, minimumAnchorSize.height);
    return {reported.x, reported.bottom() - height, width, height};
}

HUDPoint fallbackOrigin(const HUDRect& visible, HUDSize window) {
    return {visible.centreX() - window.width / 2, visible.bottom() - fallbackBottomGap - window.height};
}

HUDPoint anchoredOrigin(const HUDRect& visible, std::optional<HUDRect> reportedAnchor, HUDSize window) {
    if (!reportedAnchor)
        return fallbackOrigin(visible, window);
    const HUDRect anchor = anchorRect(*reportedAnchor);
    if (!visible.intersects(anchor.grownBy(anchorReach)))
        return fallbackOrigin(visible, window);

    // The left margin wins when the window is wider than the area allows.
    const double x = std::max(visible.left() + edgeMargin,
                              std::min(visible.right() - window.width - edgeMargin, anchor.centreX() - window.width / 2));
    double y = anchor.bottom() + anchorGap;
    if (y + window.height > visible.bottom() - edgeMargin)
        y = std::max(anchor.top() - anchorGap - window.height, visible.top() + edgeMargin);
    return {x, y};
}

std::optional<HUDRect> lookUpAnchor(const AnchorQuery& caretBounds, const AnchorQuery& focusedElementFrame,
                                    const std::function<std::chrono::steady_clock::duration()>& now,
                                    std::chrono::milliseconds stall) {
    const auto start = now();
    if (auto caret = caretBounds())
        return caret;
    if (now() - start >= stall)
        return std::nullopt;
    return focusedElementFrame();
}

HUDPoint computeAnchoredOrigin(HUDSize window, const std::vector<HUDScreen>& screens, std::optional<HUDPoint> pointer,
                               const std::function<std::optional<HUDRect>()>& anchorLookup) {
    const std::optional<HUDScreen> screen = screenForPointer(screens, pointer);
    if (!screen)
        return noScreenOrigin;
    return anchoredOrigin(screen->availableGeometry, anchorLookup ? anchorLookup() : std::nullopt, window);
}

} // namespace HUDPlacement
