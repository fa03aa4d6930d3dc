#pragma once

#include "PeloraVoiceApp/pages/RulesPageLocalState.h"

class QWidget;

namespace pelora {

class AppViewModelQtAdapter;

// What the main window keeps for its pages while they edit something that has not reached
// the controller yet. It lives as long as the window (hidden or not), whichever page shows.
// The rules page's own part (key editor, dictionary form) is kept with the rest.
struct WorkspaceViewState : pages::RulesPageLocalState {
    bool isDropTargeted = false;
};

// The pages the main window shows besides the studio: each returns a new widget owned by
// `parent`. The window puts the rules and shortcuts pages in a scroll area of its own and the
// sheet's content in its fixed-size sheet.
QWidget* makeRulesPage(AppViewModelQtAdapter& vm, WorkspaceViewState& state, QWidget* parent);
QWidget* makeShortcutsPage(AppViewModelQtAdapter& vm, WorkspaceViewState& state, QWidget* parent);
QWidget* makePermissionSheetContent(AppViewModelQtAdapter& vm, QWidget* parent);

}  // namespace pelora
