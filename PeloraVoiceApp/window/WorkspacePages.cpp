#include "PeloraVoiceApp/window/WorkspacePages.h"

#include "PeloraVoiceApp/pages/PermissionSheetView.h"
#include "PeloraVoiceApp/pages/RulesPageView.h"
#include "PeloraVoiceApp/pages/ShortcutsPageView.h"

namespace pelora {

QWidget* makeRulesPage(AppViewModelQtAdapter& vm, WorkspaceViewState& state, QWidget* parent) {
    return new pages::RulesPageView(vm, state, parent);
}

QWidget* makeShortcutsPage(AppViewModelQtAdapter& vm, WorkspaceViewState&, QWidget* parent) {
    return new pages::ShortcutsPageView(vm, parent);
}

QWidget* makePermissionSheetContent(AppViewModelQtAdapter& vm, QWidget* parent) {
    return new pages::PermissionSheetView(vm, parent);
}

}  // namespace pelora
