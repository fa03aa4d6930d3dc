#include "PeloraVoiceApp/window/MainWorkspaceView.h"

#include "PeloraVoiceApp/AppIdentity.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

namespace pelora {

MainWorkspaceView::MainWorkspaceView(AppViewModelQtAdapter& vm, QWidget* parent) : QMainWindow(parent), vm_(vm) {
    setWindowTitle(QString::fromUtf8(AppIdentity::displayName.data(), qsizetype(AppIdentity::displayName.size())));
    setMinimumSize(minimumWidth, minimumHeight);
    resize(defaultWidth, defaultHeight);
}

MainWorkspaceView::~MainWorkspaceView() = default;

void MainWorkspaceView::openAtDefaultSize() {
    resize(defaultWidth, defaultHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

void MainWorkspaceView::presentToFront() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWorkspaceView::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous()) return;  // the window manager mapping it again, not us showing it
    vm_.bootEngine();
}

}  // namespace pelora
