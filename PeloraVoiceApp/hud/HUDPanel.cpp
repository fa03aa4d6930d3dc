#include "PeloraVoiceApp/hud/HUDPanel.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/hud/HUDFloatingView.h"
#include "PeloraVoiceApp/hud/PeloraOceanPillSurface.h"
#include "engine/injection/AccessibilityTextInjector.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPalette>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>

namespace {

constexpr QSize panelSize{520, 68};

int defaultScreenNumber() {
    // ":0.1" names screen 1; Qt connects to the display's default screen.
    const QByteArray display = qgetenv("DISPLAY");
    const int colon = display.lastIndexOf(':');
    const int dot = display.lastIndexOf('.');
    if (colon >= 0 && dot > colon)
        return std::atoi(display.constData() + dot + 1);
    return 0;
}

} // namespace

HUDPanel::HUDPanel() : HUDPanel(QtMainThreadScheduler::shared()) {}

HUDPanel::HUDPanel(MainThreadScheduler& scheduler, AnchorLookup anchorLookup)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::BypassWindowManagerHint),
      anchorLookup_(std::move(anchorLookup)) {
    setObjectName(QStringLiteral("HUDPanel"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(panelSize);

    presenter_ = std::make_unique<HUDPresenter>(static_cast<HUDWindow&>(*this), scheduler, [this](HUDSize size) {
        const QPoint origin = computeAnchoredOrigin(QSize(int(size.width), int(size.height)), anchorLookup_);
        return HUDPoint{double(origin.x()), double(origin.y())};
    });
    view_ = new HUDFloatingView(presenter_->stateModel(), this);
    view_->setGeometry(rect());
    view_->onCapsuleChanged = [this](const QRectF&) { shapeToCapsule(); };

    applySurfaceMode(compositorRunning());
    create();  // the native window exists before the first show, so showing is quick
    applyInputTransparency();
}

HUDPanel::~HUDPanel() {
    // The view observes the presenter's model, and the presenter's pending hide would touch
    // this window: both go before the window does, the view first.
    delete view_;
    view_ = nullptr;
    presenter_.reset();
}

void HUDPanel::showRecording(double seconds, float level, std::string engineBadge,
                             std::optional<std::string> targetAppName, bool isHandsFreeLocked) {
    presenter_->showRecording(seconds, level, std::move(engineBadge), std::move(targetAppName), isHandsFreeLocked);
}

void HUDPanel::showTranscribing(std::string engineBadge, std::optional<std::string> targetAppName) {
    presenter_->showTranscribing(std::move(engineBadge), std::move(targetAppName));
}

void HUDPanel::showCompleted(std::string text, double latencyMs, double rtfx, std::string outcomeSummary,
                             bool isDirectInsert, std::string reinsertBadge) {
    presenter_->showCompleted(std::move(text), latencyMs, rtfx, std::move(outcomeSummary), isDirectInsert,
                              std::move(reinsertBadge));
}

void HUDPanel::hideHUD() { presenter_->hideHUD(); }

void HUDPanel::prepareFirstShow(int step) {
    if (step == 0) {
        ensurePolished();
        view_->ensurePolished();
    }
    HUDFloatingView::prepareFirstPaint(step);
    if (step + 1 < HUDFloatingView::firstPaintSteps())
        QTimer::singleShot(0, this, [this, step] { prepareFirstShow(step + 1); });
}

QPoint HUDPanel::computeAnchoredOrigin(QSize windowSize) {
    return computeAnchoredOrigin(windowSize, defaultAnchorLookup());
}

QPoint HUDPanel::computeAnchoredOrigin(QSize windowSize, const AnchorLookup& anchorLookup) {
    std::vector<HUDScreen> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const QRect a = screen->availableGeometry();
        screens.push_back({{double(g.x()), double(g.y()), double(g.width()), double(g.height())},
                           {double(a.x()), double(a.y()), double(a.width()), double(a.height())}});
    }
    const QPoint pointer = QCursor::pos();
    const HUDPoint origin = HUDPlacement::computeAnchoredOrigin(
        HUDSize{double(windowSize.width()), double(windowSize.height())}, screens,
        HUDPoint{double(pointer.x()), double(pointer.y())}, anchorLookup);
    return QPoint(int(std::lround(origin.x)), int(std::lround(origin.y)));
}

HUDPanel::AnchorLookup HUDPanel::defaultAnchorLookup() {
    // The accessibility layer gives up on a target after about 0.8 s; 0.7 s means it did.
    static constexpr std::chrono::milliseconds stalledQuery{700};
    auto toRect = [](std::optional<pelora::ScreenRect> r) -> std::optional<HUDRect> {
        if (!r)
            return std::nullopt;
        return HUDRect{r->x, r->y, r->width, r->height};
    };
    return [toRect] {
        return HUDPlacement::lookUpAnchor(
            [&] { return toRect(pelora::AccessibilityTextInjector::getCaretBounds(std::nullopt)); },
            [&] { return toRect(pelora::AccessibilityTextInjector::getFocusedElementFrame(std::nullopt)); },
            [] { return std::chrono::steady_clock::now().time_since_epoch(); }, stalledQuery);
    };
}

bool HUDPanel::compositorRunning() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(defaultScreenNumber());
    const xcb_intern_atom_cookie_t atomCookie =
        xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData());
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;  // nobody ever named it, so nobody owns it
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!owner)
        return false;
    const bool running = owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return running;
}

bool HUDPanel::isOnScreen() const { return isVisible(); }

void HUDPanel::setIgnoresMouseEvents(bool ignores) {
    ignoresMouse_ = ignores;
    applyInputTransparency();
}

void HUDPanel::applyInputTransparency() {
    // On the native window only: an empty input shape, switched without unmapping (changing
    // the widget's own flags would recreate and hide the window).
    if (QWindow* window = windowHandle())
        window->setFlag(Qt::WindowTransparentForInput, ignoresMouse_);
}

void HUDPanel::placeAt(HUDPoint topLeft) {
    move(int(std::lround(topLeft.x)), int(std::lround(topLeft.y)));
    update();
}

void HUDPanel::orderFront() {
    if (!isVisible()) {
        // A compositor may have started or stopped since the pill was last up.
        const bool composited = compositorRunning();
        if (composited != composited_) {
            applySurfaceMode(composited);
            destroy();
            create();
        }
        show();
    }
    raise();
    applyInputTransparency();
}

void HUDPanel::orderOut() { hide(); }

void HUDPanel::applySurfaceMode(bool composited) {
    composited_ = composited;
    setAttribute(Qt::WA_TranslucentBackground, composited);
    setAttribute(Qt::WA_NoSystemBackground, composited);
    if (!composited) {
        // Shaped window: what the capsule's soft edge blends into is the capsule's own colour.
        QPalette colours = palette();
        colours.setColor(QPalette::Window, QColor::fromRgbF(0.07f, 0.09f, 0.13f));
        setPalette(colours);
        setAutoFillBackground(true);
    } else {
        setAutoFillBackground(false);
    }
    view_->setTranslucent(composited);
    shapeToCapsule();
}

void HUDPanel::shapeToCapsule() {
    if (composited_) {
        clearMask();
        return;
    }
    const QRectF capsule = view_->currentLayout().capsule;
    if (capsule.isEmpty()) {
        setMask(QRegion(0, 0, 1, 1));  // nothing to show; an empty mask would mean "no shape"
        return;
    }
    const QPolygonF outline = PeloraOceanPillSurface::capsulePath(capsule).toFillPolygon();
    setMask(QRegion(outline.toPolygon(), Qt::WindingFill));
}
