#pragma once

#include "PeloraVoiceApp/pages/RulesPageLocalState.h"

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pelora {
class AppViewModelQtAdapter;
}

namespace pelora::pages {

class PlaygroundCard;
class StatusBadge;
class VocabularyEditor;

// The rules page: punctuation and clean-up options, homophone and contextual correction,
// the decision service's opt-in and key, then the playground and the custom dictionary.
// Every control shows and writes a property of the controller; the page itself keeps only
// `local` (owned by the main window). Main thread only; the adapter and `local` must
// outlive the page.
class RulesPageView final : public QWidget {
    Q_OBJECT
public:
    RulesPageView(AppViewModelQtAdapter& adapter, RulesPageLocalState& local, QWidget* parent = nullptr);

    PlaygroundCard* playgroundCard() const { return playground_; }
    VocabularyEditor* vocabularyEditor() const { return vocabulary_; }

private:
    QWidget* buildSettingsCard();
    QWidget* buildKeyEditor(QWidget* parent);
    void syncFromModel();
    void syncKeyEditor();
    void writeDensity(int index);
    void writeStyle(int index);
    void setOptionFlag(int flag, bool value);
    void pasteKey();
    void saveKey();
    void deleteKey();
    void toggleKeyEditor();

    AppViewModelQtAdapter& adapter_;
    RulesPageLocalState& local_;
    QString host_;

    QLabel* densityDescription_ = nullptr;
    QButtonGroup* density_ = nullptr;
    QComboBox* style_ = nullptr;
    QCheckBox* removeFillers_ = nullptr;
    QCheckBox* voiceCommands_ = nullptr;
    QCheckBox* halfWidth_ = nullptr;
    QCheckBox* reranking_ = nullptr;
    QCheckBox* contextual_ = nullptr;
    QWidget* externalBlock_ = nullptr;
    QCheckBox* optIn_ = nullptr;
    QCheckBox* focusedContext_ = nullptr;
    QWidget* statusRow_ = nullptr;
    StatusBadge* connectionBadge_ = nullptr;
    StatusBadge* localModelBadge_ = nullptr;
    StatusBadge* phoneticBadge_ = nullptr;
    QPushButton* keyEditorToggle_ = nullptr;
    QWidget* keyEditor_ = nullptr;
    QLineEdit* keyField_ = nullptr;
    QPushButton* pasteButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* deleteButton_ = nullptr;
    QLabel* keyFailure_ = nullptr;
    PlaygroundCard* playground_ = nullptr;
    VocabularyEditor* vocabulary_ = nullptr;
};

}  // namespace pelora::pages
