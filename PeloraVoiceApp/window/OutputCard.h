#pragma once

#include "PeloraVoiceApp/controller/FileTranscriptionProgress.h"

#include <QWidget>

#include <array>
#include <optional>
#include <vector>
#include <string>

class QLabel;
class QListView;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTextEdit;
class QTimer;

namespace pelora {

class AppViewModelQtAdapter;
class TimestampListModel;

// The result card of the studio: tabs (text, timestamps, SRT), the status (a transcription
// running, else the timing of the shown result), reinsert and copy, the body of the chosen
// tab or a placeholder before any result, and a footer with the last insertion's outcome
// and the reinsert key. The timestamps are a list view over a model that hands its rows
// out in batches, so a long result shows at once.
class OutputCard final : public QWidget {
    Q_OBJECT
public:
    explicit OutputCard(AppViewModelQtAdapter& vm, QWidget* parent = nullptr);
    ~OutputCard() override;

    QTabBar* tabs() const { return tabs_; }
    QWidget* busyIndicator() const { return busy_; }
    // Determinate (0-100) while a file's stage tells how far it is, else indeterminate.
    QProgressBar* busyBar() const { return busyBar_; }
    QLabel* busyText() const { return busyText_; }
    QLabel* timingLabel() const { return timing_; }
    QPushButton* reinsertButton() const { return reinsert_; }
    QPushButton* copyButton() const { return copy_; }
    QStackedWidget* body() const { return body_; }
    QWidget* placeholder() const { return placeholder_; }
    QLabel* placeholderHint() const { return placeholderHint_; }
    QTextEdit* formattedText() const { return formatted_; }
    QLabel* autoReplaceLine() const { return autoReplace_; }
    QWidget* autoReplaceChip() const { return autoReplaceChip_; }
    QListView* timestampList() const { return timestamps_; }
    TimestampListModel* timestampModel() const { return timestampModel_; }
    QLabel* noTimestamps() const { return noTimestamps_; }
    QPlainTextEdit* srtText() const { return srt_; }
    QWidget* footer() const { return footer_; }
    QLabel* outcomeIcon() const { return outcomeIcon_; }
    QLabel* outcomeText() const { return outcomeText_; }
    QLabel* footerHint() const { return footerHint_; }

    // "12.3秒の音声 · 1.23秒で処理 (10×)", always with decimal points.
    static QString timingSummary(double audioDurationSeconds, double totalProcessingMs);
    // "文字起こし中... 読み込み 42%", "文字起こし中... 認識 17%", or "文字起こし中..." without a fraction.
    static QString transcribingText(const std::optional<FileTranscriptionProgress>& progress);
    static int percent(double fraction);
    // The labels of the high-confidence automatic replacements among the applied rules.
    static QStringList autoReplaceLabels(const std::vector<std::string>& annotations);

private:
    void syncTab();
    // Fills the body of `tab` from the current result when it was not filled since.
    void fillBody(int tab);
    void syncStatus();
    void syncResult();
    void syncButtons();
    void syncFooter();
    void syncPlaceholder();

    AppViewModelQtAdapter& vm_;
    QTabBar* tabs_;
    QWidget* busy_;
    QProgressBar* busyBar_;
    QLabel* busyText_;
    QLabel* timing_;
    QPushButton* reinsert_;
    QPushButton* copy_;
    QStackedWidget* body_;
    QWidget* placeholder_;
    QLabel* placeholderHint_;
    QWidget* formattedPage_;
    QTextEdit* formatted_;
    QWidget* autoReplaceChip_;
    QLabel* autoReplace_;
    QStackedWidget* timestampPage_;
    QListView* timestamps_;
    TimestampListModel* timestampModel_;
    QLabel* noTimestamps_;
    QPlainTextEdit* srt_;
    QWidget* footer_;
    QLabel* outcomeIcon_;
    QLabel* outcomeText_;
    QLabel* footerHint_;
    // Which tab bodies hold the current result: only the shown one is filled at once, the
    // others when they are chosen (an hour's text, timestamps and SRT cost the main loop).
    std::array<bool, 3> filled_{};
    // Fills the shown tab with a long result on a later turn of the main loop (see syncResult).
    QTimer* longFill_;
};

}  // namespace pelora
