#include "PeloraVoiceApp/window/WorkspacePages.h"

#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"

#include <QLabel>
#include <QVBoxLayout>

namespace pelora {

namespace {
QWidget* titledPage(const QString& title, QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 24);
    auto* heading = new QLabel(title, page);
    heading->setObjectName(QStringLiteral("pageTitle"));
    layout->addWidget(heading);
    layout->addStretch(1);
    return page;
}
}  // namespace

QWidget* makeRulesPage(AppViewModelQtAdapter&, WorkspaceViewState&, QWidget* parent) {
    return titledPage(QStringLiteral("日本語ルール・辞書"), parent);
}

QWidget* makeShortcutsPage(AppViewModelQtAdapter&, WorkspaceViewState&, QWidget* parent) {
    return titledPage(QStringLiteral("ショートカット・設定"), parent);
}

QWidget* makePermissionSheetContent(AppViewModelQtAdapter&, QWidget* parent) {
    return titledPage(QStringLiteral("権限設定"), parent);
}

}  // namespace pelora
