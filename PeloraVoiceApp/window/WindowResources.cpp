#include "PeloraVoiceApp/window/WindowResources.h"

#include "PeloraVoiceApp/hud/SymbolIcon.h"

#include <QtCore/qglobal.h>

// Resources of a static library must be registered by hand, outside any namespace.
void registerWindowResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(window_resources);
        SymbolIcon::exists(QStringLiteral("checkmark.circle.fill"));  // the overlay's symbols, shared
        return true;
    }();
    (void)registered;
}
