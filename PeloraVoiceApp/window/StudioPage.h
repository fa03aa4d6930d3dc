#pragma once

#include <QWidget>

#include <optional>

class QLabel;
class QMimeData;
class QPushButton;

namespace pelora {

class AppViewModelQtAdapter;
class CardFrame;
class OutputCard;
class TileButton;
struct WorkspaceViewState;

// The dictation studio: up to four notices (missing permissions, an earlier edition
// running, no Japanese speech model, the last error), the record card (record button, open-file tile) and the
// output card. The whole page takes dropped audio and video files: the first local file
// goes to the file transcription by its path. While a recording or a transcription runs
// the page refuses drags (no highlight), as the open-file tile is disabled then.
class StudioPage final : public QWidget {
    Q_OBJECT
public:
    StudioPage(AppViewModelQtAdapter& vm, WorkspaceViewState& state, QWidget* parent = nullptr);

    CardFrame* permissionBanner() const { return permissionBanner_; }
    QLabel* permissionTitle() const { return permissionTitle_; }
    QPushButton* permissionButton() const { return permissionButton_; }
    CardFrame* legacyBanner() const { return legacyBanner_; }
    QPushButton* legacyButton() const { return legacyButton_; }
    CardFrame* speechModelBanner() const { return speechModelBanner_; }
    QLabel* speechModelText() const { return speechModelText_; }
    QPushButton* speechModelFolderButton() const { return speechModelFolder_; }
    QPushButton* speechModelRecheckButton() const { return speechModelRecheck_; }
    CardFrame* errorBanner() const { return errorBanner_; }
    QLabel* errorText() const { return errorText_; }
    QPushButton* errorCloseButton() const { return errorClose_; }
    CardFrame* recordCard() const { return recordCard_; }
    TileButton* recordButton() const { return recordButton_; }
    QLabel* recordTitle() const { return recordTitle_; }
    QLabel* durationBadge() const { return duration_; }
    QLabel* keyHint() const { return keyHint_; }
    QWidget* targetLine() const { return targetLine_; }
    QLabel* targetLabel() const { return targetLabel_; }
    TileButton* fileTile() const { return fileTile_; }
    OutputCard* outputCard() const { return output_; }

    // Whether a drag of this data would be taken now (and highlight the page).
    bool acceptsDrag(const QMimeData* data) const;
    // The path of the first dropped item when it is a local file.
    static std::optional<QString> droppedFilePath(const QMimeData* data);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setDropTargeted(bool targeted);
    void syncPermission();
    void syncLegacy();
    void syncSpeechModel();
    void syncError();
    void syncRecording();
    void syncTarget();
    void syncOutlines();

    AppViewModelQtAdapter& vm_;
    WorkspaceViewState& state_;
    CardFrame* permissionBanner_;
    QLabel* permissionTitle_;
    QPushButton* permissionButton_;
    CardFrame* legacyBanner_;
    QPushButton* legacyButton_;
    CardFrame* speechModelBanner_;
    QLabel* speechModelText_;
    QPushButton* speechModelFolder_;
    QPushButton* speechModelRecheck_;
    CardFrame* errorBanner_;
    QLabel* errorText_;
    QPushButton* errorClose_;
    CardFrame* recordCard_;
    TileButton* recordButton_;
    QLabel* recordCircle_;
    QLabel* recordTitle_;
    QLabel* duration_;
    QLabel* keyHint_;
    QWidget* targetLine_;
    QLabel* targetLabel_;
    TileButton* fileTile_;
    OutputCard* output_;
};

}  // namespace pelora
