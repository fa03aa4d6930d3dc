// pelora-qt-drag-source: a small Qt 6 window that starts a drag (XDND between processes)
// when the left button is pressed on it and the pointer moves, as a file manager does.
//
// Options:
//   --url URL          an item of the drag, as given (file:///tmp/a.wav, https://...);
//                      repeatable; the drag carries text/uri-list
//   --data MIME        offers a few bytes of this type (audio data without a file URL)
//   --geometry X,Y,W,H where the window goes (default 0,320,120,120); it bypasses the window
//                      manager, so it lands exactly there
//   --report PATH      where the lines below go (appended, one per event)
//
// Report lines: "ready X Y W H" once the window is on the screen (its area in screen
// pixels), "drag-started" when a drag begins, "drag-ended ACTION" when it ends, with ACTION
// one of copy, move, link, ignore (ignore: the target refused the drop or there was none).
// Ends when it is stopped (SIGTERM).
#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

QString reportPath;

void report(const QString& line) {
    QFile file(reportPath);
    if (!file.open(QIODevice::Append | QIODevice::Text)) {
        std::fprintf(stderr, "pelora-qt-drag-source: cannot write %s\n", qPrintable(reportPath));
        return;
    }
    file.write(line.toUtf8() + '\n');
}

class DragSource final : public QWidget {
public:
    DragSource(QList<QUrl> urls, QStringList dataTypes)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint),
          urls_(std::move(urls)),
          dataTypes_(std::move(dataTypes)) {
        setWindowTitle(QStringLiteral("Pelora Drag Source"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(40, 90, 160));
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) pressedAt_ = event->position().toPoint();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!(event->buttons() & Qt::LeftButton) || pressedAt_.x() < 0) return;
        if ((event->position().toPoint() - pressedAt_).manhattanLength() < QApplication::startDragDistance()) return;
        pressedAt_ = QPoint(-1, -1);
        auto* data = new QMimeData;
        if (!urls_.isEmpty()) data->setUrls(urls_);
        for (const QString& type : dataTypes_) data->setData(type, QByteArray("RIFF\0\0\0\0WAVE", 12));
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        report(QStringLiteral("drag-started"));
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
        const char* name = action == Qt::CopyAction   ? "copy"
                           : action == Qt::MoveAction ? "move"
                           : action == Qt::LinkAction ? "link"
                                                      : "ignore";
        report(QStringLiteral("drag-ended ") + QLatin1String(name));
    }

private:
    QList<QUrl> urls_;
    QStringList dataTypes_;
    QPoint pressedAt_{-1, -1};
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<QUrl> urls;
    QStringList dataTypes;
    QRect geometry(0, 320, 120, 120);
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString& option = args[i];
        const QString& value = args[i + 1];
        if (option == QLatin1String("--url")) {
            urls.push_back(QUrl::fromEncoded(value.toUtf8()));
        } else if (option == QLatin1String("--data")) {
            dataTypes.push_back(value);
        } else if (option == QLatin1String("--report")) {
            reportPath = value;
        } else if (option == QLatin1String("--geometry")) {
            const QStringList parts = value.split(QLatin1Char(','));
            if (parts.size() == 4) geometry = QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
        } else {
            std::fprintf(stderr, "pelora-qt-drag-source: unknown option %s\n", qPrintable(option));
            return 2;
        }
    }
    if (reportPath.isEmpty()) {
        std::fprintf(stderr, "pelora-qt-drag-source: --report is required\n");
        return 2;
    }
    DragSource source(urls, dataTypes);
    source.setGeometry(geometry);
    source.show();
    auto* poll = new QTimer(&source);
    QObject::connect(poll, &QTimer::timeout, &source, [&source, poll] {
        if (!source.windowHandle() || !source.windowHandle()->isExposed()) return;
        poll->stop();
        const QPoint at = source.mapToGlobal(QPoint(0, 0));
        report(QStringLiteral("ready %1 %2 %3 %4").arg(at.x()).arg(at.y()).arg(source.width()).arg(source.height()));
    });
    poll->start(20);
    return QApplication::exec();
}
