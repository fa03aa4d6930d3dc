#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/ActiveApplicationTracker.h"
#include "PeloraVoiceApp/system/OwnTextView.h"
#include "PeloraVoiceApp/system/Paster.h"

Paster& Paster::shared() {
    // Kept for the whole process: a pending restore or a paste in flight may outlive any
    // window.
    static ClipboardAccess* clipboard = makeX11ClipboardAccess().release();
    static InjectionBackend* injector = makeEngineInjectionBackend().release();
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
