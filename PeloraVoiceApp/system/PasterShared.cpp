#include <QCoreApplication>

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/ActiveApplicationTracker.h"
#include "PeloraVoiceApp/system/OwnTextView.h"
#include "PeloraVoiceApp/system/Paster.h"

Paster& Paster::shared() {
    // Kept for the whole process: a pending restore or a paste in flight may outlive any
    // window.
    static ClipboardAccess* clipboard = makeX11ClipboardAccess().release();
    static InjectionBackend* injector = makeEngineInjectionBackend().release();
    // The clipboard object lives on past the main loop, so its own destructor never
    // runs: the last text we put there is offered to a clipboard manager as we quit.
    static const bool offeredAtQuit = [] {
        if (auto* app = QCoreApplication::instance()) {
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { clipboard->keepAfterExit(); });
        }
        return true;
    }();
    (void)offeredAtQuit;
    static Paster* paster = new Paster(Dependencies{
        &QtMainThreadScheduler::shared(),
        injector,
        clipboard,
        &ActiveApplicationTracker::shared().source(),
        [] { return ActiveApplicationTracker::shared().lastExternalApp(); },
        ::hasFocusedInternalEditableTextView,
        ::injectIntoInternalTextViewIfFocused,
        ::replaceInInternalTextViewIfFocused,
    });
    return *paster;
}
