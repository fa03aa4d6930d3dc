// The rules page over the real controller: what each control writes into the settings
// document, which controls the switches enable and show, the key editor, and the keyboard.
#include "tests/PeloraVoiceApp/pages/PagesFixture.h"
#include "tests/PeloraVoiceApp/controller/KeyBackendProcess.h"

#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PageStyle.h"
#include "PeloraVoiceApp/pages/RulesPageTexts.h"
#include "PeloraVoiceApp/pages/RulesPageView.h"
#include "PeloraVoiceApp/controller/MirkAPIKeyStore.h"
#include "engine/japanese/MirkInputSecretStore.h"
#include "platform/secrets/SecretStore.h"
#include "tests/support/KeyringSession.h"
#include "tests/support/RerunTest.h"
#include "tests/support/TempDir.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

using namespace pelora;
using namespace pelora::pages;
using namespace pelora::pages_testing;
using pelora::controller_testing::KeyBackend;
using pelora::controller_testing::keyBackingStore;
using pelora::controller_testing::rerunWithKeyBackend;

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

class RulesPageFixture : public PagesFixture {
protected:
    RulesPageView& makePage() {
        page_.reset();
        makeAdapter();
        page_ = std::make_unique<RulesPageView>(*adapter_, local_);
        return *page_;
    }
    void TearDown() override {
        page_.reset();
        PagesFixture::TearDown();
    }
    RulesPageLocalState local_;
    std::unique_ptr<RulesPageView> page_;
};

// ---- each control writes its key ----

TEST_F(RulesPageFixture, EachControlWritesItsKeyIntoTheDocument) {
    keyStore.key = "sk-test";
    struct Case {
        const char* name;
        std::function<void(RulesPageView&)> act;
        std::vector<std::string> path;  // into the document
        nlohmann::json value;
    };
    auto click = [](const char* name) {
        return [name](RulesPageView& page) { child<QAbstractButton>(page, name)->click(); };
    };
    auto pickStyle = [](int index) {
        return [index](RulesPageView& page) {
            auto* combo = child<QComboBox>(page, "punctuationStyle");
            combo->setCurrentIndex(index);
            emit combo->activated(index);
        };
    };
    const Case cases[] = {
        {"density light", click("densityLight"), {"inputOptions", "punctuationDensity"}, "light"},
        {"density dense", click("densityDense"), {"inputOptions", "punctuationDensity"}, "dense"},
        {"density balanced", click("densityBalanced"), {"inputOptions", "punctuationDensity"}, "balanced"},
        {"style academic", pickStyle(1), {"inputOptions", "punctuationStyle"}, "academic"},
        {"style ascii", pickStyle(2), {"inputOptions", "punctuationStyle"}, "ascii"},
        {"style space only", pickStyle(3), {"inputOptions", "punctuationStyle"}, "space_only"},
        {"fillers", click("removeFillers"), {"inputOptions", "removeFillers"}, false},
        {"voice commands", click("enableVoiceCommands"), {"inputOptions", "enableVoiceCommands"}, false},
        {"half width", click("normalizeAlphanumerics"), {"inputOptions", "normalizeAlphanumerics"}, false},
        {"contextual", click("enableMirkContextCorrection"), {"enableMirkContextCorrection"}, false},
        {"opt-in", click("allowExternalMirkTransmission"), {"allowExternalMirkTransmission"}, true},
        {"reranking", click("enableHomophoneReranking"), {"enableHomophoneReranking"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(documentFile().parent_path());
        RulesPageView& page = makePage();
        c.act(page);
        nlohmann::json at = document();
        ASSERT_FALSE(at.is_null()) << "nothing was written";
        for (const auto& key : c.path) at = at[key];
        EXPECT_EQ(at, c.value);
        // The other fields of the options are written unchanged with the one that moved.
        EXPECT_EQ(document()["inputOptions"].size(), 9u);
    }

    // The focused context needs the opt-in first; reranking off writes it into the options too.
    std::filesystem::remove_all(documentFile().parent_path());
    RulesPageView& page = makePage();
    child<QAbstractButton>(page, "allowExternalMirkTransmission")->click();
    child<QAbstractButton>(page, "sendFocusedContextToMirk")->click();
    EXPECT_EQ(document()["sendFocusedContextToMirk"], true);
    child<QAbstractButton>(page, "enableHomophoneReranking")->click();
    EXPECT_EQ(document()["inputOptions"]["enableHomophoneReranking"], false);
}

TEST_F(RulesPageFixture, ControlsFollowTheController) {
    RulesPageView& page = makePage();
    JapaneseInputOptions options = model->inputOptions();
    options.punctuationDensity = JapanesePunctuationDensity::dense;
    options.punctuationStyle = JapanesePunctuationStyle::spaceOnly;
    options.removeFillers = false;
    model->setInputOptions(options);
    EXPECT_TRUE(child<QAbstractButton>(page, "densityDense")->isChecked());
    EXPECT_FALSE(child<QAbstractButton>(page, "densityBalanced")->isChecked());
    EXPECT_EQ(child<QLabel>(page, "densityDescription")->text(), qs("多め（短いポーズも区切る）"));
    EXPECT_EQ(child<QComboBox>(page, "punctuationStyle")->currentText(), qs("チャット・空白区切り"));
    EXPECT_FALSE(child<QCheckBox>(page, "removeFillers")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(page, "enableVoiceCommands")->isChecked());
}

// ---- enabling and visibility ----

TEST_F(RulesPageFixture, SwitchesEnableAndShowTheirDependents) {
    struct Case {
        bool reranking, contextual, key, optIn;
    };
    std::vector<Case> cases;
    for (int bits = 0; bits < 16; ++bits) cases.push_back({bool(bits & 1), bool(bits & 2), bool(bits & 4), bool(bits & 8)});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "reranking " << c.reranking << ", contextual " << c.contextual << ", key "
                                          << c.key << ", opt-in " << c.optIn);
        keyStore.key = c.key ? std::optional<std::string>("sk-test") : std::nullopt;
        local_.showMirkKeyEditor = true;
        RulesPageView& page = makePage();
        model->setEnableHomophoneReranking(c.reranking);
        model->setEnableMirkContextCorrection(c.contextual);
        model->setAllowExternalMirkTransmission(c.optIn);

        auto* contextual = child<QCheckBox>(page, "enableMirkContextCorrection");
        EXPECT_EQ(contextual->isEnabled(), c.reranking);
        EXPECT_EQ(contextual->isChecked(), c.contextual) << "a disabled toggle keeps its value";
        EXPECT_EQ(shown(child(page, "externalServiceBlock"), page), c.contextual);
        EXPECT_EQ(child<QCheckBox>(page, "allowExternalMirkTransmission")->isEnabled(), c.reranking && c.key);
        EXPECT_EQ(child<QCheckBox>(page, "sendFocusedContextToMirk")->isEnabled(), c.reranking && c.key && c.optIn);
        EXPECT_EQ(shown(child(page, "statusRow"), page), c.reranking);
        EXPECT_EQ(shown(child(page, "keyEditor"), page), c.reranking) << "the editor is open";
        EXPECT_EQ(child<QWidget>(page, "deleteKey")->isVisibleTo(child(page, "keyEditor")), c.key);

        auto* badge = child<StatusBadge>(page, "connectionBadge");
        const bool active = c.key && c.optIn;
        EXPECT_EQ(badge->text(), active ? qs("MIRK (mirk-latest) 外部連携有効") : qs("MIRKオンデバイス限定モード"));
        EXPECT_EQ(badge->dotColor(), active ? UITheme::Ocean::success : QColor::fromRgbF(1.0f, 0.58f, 0.0f));
        EXPECT_EQ(child<StatusBadge>(page, "localModelBadge")->text(), qs("45組文脈ルール有効"));
    }
}

TEST_F(RulesPageFixture, TextsNameThisMachinesServiceAndStore) {
    RulesPageView& page = makePage();
    // No host configured in this process.
    EXPECT_EQ(child<QCheckBox>(page, "allowExternalMirkTransmission")->text(),
              qs("Quillory MIRK 外部API (未設定) へのテキスト送信を許可する（オプトイン）"));
    EXPECT_EQ(child<QLabel>(page, "onDeviceNote")->text(),
              qs("※ デフォルトでは完全オンデバイス（ローカル辞書）で処理されます。外部送信をONにした場合のみ、"
                 "認識テキスト（および許可時はカーソル前後の文脈）が 未設定 へ送信されます。"));
    EXPECT_EQ(child<QLineEdit>(page, "mirkKeyField")->placeholderText(), qs("Quillory MIRK APIキー (キーリング保存)"));
    const QString note = child<QLabel>(page, "keyStorageNote")->text();
    EXPECT_TRUE(note.startsWith(qs("キーリング (Secret Service: com.peloravoice.mirk-input-targeting) に保存されます。")));
    EXPECT_TRUE(note.contains(QString::fromStdString((configHome.path() / "PeloraVoice2").string()))) << note.toStdString();
}

// ---- the key editor ----

TEST_F(RulesPageFixture, TheKeyEditorSavesPastesAndDeletes) {
    RulesPageView& page = makePage();
    auto* toggle = child<QPushButton>(page, "keyEditorToggle");
    EXPECT_EQ(toggle->text(), qs("MIRKキー設定"));
    EXPECT_FALSE(shown(child(page, "keyEditor"), page));
    toggle->click();
    EXPECT_EQ(toggle->text(), qs("閉じる"));
    EXPECT_TRUE(local_.showMirkKeyEditor);
    ASSERT_TRUE(shown(child(page, "keyEditor"), page));

    auto* field = child<QLineEdit>(page, "mirkKeyField");
    auto* save = child<QPushButton>(page, "saveKey");
    auto* paste = child<QPushButton>(page, "pasteKey");
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);

    // "保存" needs something besides blanks and line breaks.
    struct Draft {
        const char* text;
        bool saveEnabled;
    };
    for (const Draft& d : {Draft{"", false}, Draft{"  \t", false}, Draft{"\n\u3000", false}, Draft{" k ", true}}) {
        field->setText(qs(d.text));
        EXPECT_EQ(save->isEnabled(), d.saveEnabled) << d.text;
    }

    // Paste takes the X11 clipboard, trimmed; blanks there leave the field alone.
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->setText(qs("  sk-pasted-1\n"), QClipboard::Clipboard);
    ASSERT_TRUE(spinUntil([&] { return clipboard->text() == qs("  sk-pasted-1\n"); }));
    paste->click();
    EXPECT_EQ(field->text(), qs("sk-pasted-1"));
    clipboard->setText(qs(" \n\t"), QClipboard::Clipboard);
    ASSERT_TRUE(spinUntil([&] { return clipboard->text() == qs(" \n\t"); }));
    paste->click();
    EXPECT_EQ(field->text(), qs("sk-pasted-1"));

    // Return does nothing.
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(keyStore.key.has_value());
    EXPECT_EQ(field->text(), qs("sk-pasted-1"));

    // The key is in no accessible text and not in the settings document.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
    ASSERT_NE(accessible, nullptr);
    EXPECT_FALSE(accessible->text(QAccessible::Value).contains(qs("sk-pasted")));
    EXPECT_FALSE(accessible->text(QAccessible::Name).contains(qs("sk-pasted")));
    if (QAccessibleTextInterface* text = accessible->textInterface()) {
        EXPECT_FALSE(text->text(0, text->characterCount()).contains(qs("sk-pasted")));
    }

    save->click();
    EXPECT_EQ(keyStore.key, "sk-pasted-1");
    EXPECT_TRUE(model->isMirkAPIKeyConfigured());
    EXPECT_FALSE(shown(child(page, "keyEditor"), page)) << "saving closes the editor";
    EXPECT_TRUE(local_.mirkKeyDraft.isEmpty());
    EXPECT_EQ(documentBytes().find("sk-pasted"), std::string::npos);

    // Deleting leaves the editor open with an empty field and takes the button away.
    toggle->click();
    auto* remove = child<QPushButton>(page, "deleteKey");
    ASSERT_TRUE(remove->isVisibleTo(&page));
    field->setText(qs("half typed"));
    remove->click();
    EXPECT_FALSE(keyStore.key.has_value());
    EXPECT_FALSE(model->isMirkAPIKeyConfigured());
    EXPECT_TRUE(shown(child(page, "keyEditor"), page));
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(remove->isVisibleTo(&page));
}

TEST_F(RulesPageFixture, AKeyThatWasNotStoredStaysInTheEditorWithTheReason) {
    struct Case {
        const char* name;
        const char* typed;
        bool storeRefuses;
    };
    const Case cases[] = {
        {"the store refuses", "sk-good", true},
        {"a tab inside the key", "sk-bad\tkey", false},
        {"a line break inside the key", "sk-bad\nkey", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keyStore.key.reset();
        keyStore.refuseWrites = c.storeRefuses;
        local_ = {};
        local_.showMirkKeyEditor = true;
        RulesPageView& page = makePage();
        auto* field = child<QLineEdit>(page, "mirkKeyField");
        field->setText(qs(c.typed));
        child<QPushButton>(page, "saveKey")->click();
        EXPECT_TRUE(shown(child(page, "keyEditor"), page));
        EXPECT_EQ(field->text(), qs(c.typed)) << "the typed key is kept";
        auto* failure = child<QLabel>(page, "keySaveFailure");
        EXPECT_TRUE(failure->isVisibleTo(&page));
        EXPECT_EQ(failure->text(), qs("APIキーを保存できませんでした"));
        EXPECT_FALSE(model->isMirkAPIKeyConfigured());
        // Typing again takes the message away.
        field->setText(qs("sk-fixed"));
        EXPECT_FALSE(failure->isVisibleTo(&page));
    }
    keyStore.refuseWrites = false;
}

TEST_F(RulesPageFixture, TheEditorsStateLivesWithTheWindow) {
    local_.showMirkKeyEditor = true;
    local_.mirkKeyDraft = qs("sk-draft");
    RulesPageView& page = makePage();
    EXPECT_EQ(child<QLineEdit>(page, "mirkKeyField")->text(), qs("sk-draft"));
    // A page made again (the window's view rebuilt) shows the same state.
    RulesPageView& again = makePage();
    EXPECT_TRUE(shown(child(again, "keyEditor"), again));
    EXPECT_EQ(child<QLineEdit>(again, "mirkKeyField")->text(), qs("sk-draft"));
    // Reranking off hides the editor without closing it.
    model->setEnableHomophoneReranking(false);
    EXPECT_FALSE(shown(child(again, "keyEditor"), again));
    EXPECT_TRUE(local_.showMirkKeyEditor);
}

// The editor over the engine's own key store, each backend in a fresh process: the keyring
// in a private session bus, the private file where no keyring answers, and the variable.
class RealKeyStorePage : public RulesPageFixture, public ::testing::WithParamInterface<KeyBackend> {
protected:
    bool inFreshProcess() { return rerunWithKeyBackend(GetParam(), home_, "sk-from-env"); }
    std::unique_ptr<secrets::SecretStore> backing() const { return keyBackingStore(GetParam()); }
    pelora::testing::TempDir home_;
    MirkAPIKeyStore store_;
};

TEST_P(RealKeyStorePage, SavesAndDeletesThroughTheEditor) {
    if (!inFreshProcess()) return;
    realKeyStore = &store_;
    const bool environment = GetParam() == KeyBackend::environment;
    local_.showMirkKeyEditor = true;
    RulesPageView& page = makePage();
    auto* field = child<QLineEdit>(page, "mirkKeyField");
    field->setText(qs(" sk-typed-key \n"));
    child<QPushButton>(page, "saveKey")->click();
    EXPECT_FALSE(child<QLabel>(page, "keySaveFailure")->isVisibleTo(&page));
    const auto stored = backing()->read(MirkInputSecretStore::service, MirkInputSecretStore::account);
    EXPECT_EQ(stored.outcome, secrets::Outcome::done);
    EXPECT_EQ(stored.bytes, "sk-typed-key");
    if (GetParam() == KeyBackend::file) {
        const auto file = secrets::secretFilePath(secrets::userConfigHome() / "PeloraVoice2",
                                                  MirkInputSecretStore::service, MirkInputSecretStore::account);
        EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_TRUE(model->isMirkAPIKeyConfigured());
    EXPECT_EQ(documentBytes().find("sk-typed"), std::string::npos) << "the key is not a setting";

    child<QPushButton>(page, "keyEditorToggle")->click();
    auto* remove = child<QPushButton>(page, "deleteKey");
    ASSERT_TRUE(remove->isVisibleTo(&page));
    remove->click();
    EXPECT_EQ(backing()->read(MirkInputSecretStore::service, MirkInputSecretStore::account).outcome,
              secrets::Outcome::notFound);
    // The variable still gives a key: configured stays true, and so does the button.
    EXPECT_EQ(model->isMirkAPIKeyConfigured(), environment);
    EXPECT_EQ(remove->isVisibleTo(&page), environment);
}

INSTANTIATE_TEST_SUITE_P(Backends, RealKeyStorePage,
                         ::testing::Values(KeyBackend::keyring, KeyBackend::file, KeyBackend::environment),
                         [](const auto& info) {
                             switch (info.param) {
                                 case KeyBackend::keyring: return std::string("SecretService");
                                 case KeyBackend::file: return std::string("PrivateFile");
                                 case KeyBackend::environment: return std::string("EnvironmentVariable");
                             }
                             return std::string();
                         });

// ---- keyboard ----

TEST_F(RulesPageFixture, TheKeyboardReachesAndMovesEveryControl) {
    keyStore.key = "sk-test";
    local_.showMirkKeyEditor = true;
    local_.mirkKeyDraft = qs("sk-draft");  // so that "保存" takes part
    makePage();
    model->setAllowExternalMirkTransmission(true);
    QScrollArea window;
    window.setWidget(page_.release());
    window.setWidgetResizable(true);
    window.resize(900, 700);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(spinUntil([&] { return QApplication::activeWindow() == &window; }));
    QWidget& page = *window.widget();

    // Tab goes top to bottom through the settings card; the density control is one stop
    // (its chosen segment), as a segmented control is.
    const char* order[] = {"densityBalanced", "punctuationStyle", "removeFillers",
                           "enableVoiceCommands", "normalizeAlphanumerics", "enableHomophoneReranking",
                           "enableMirkContextCorrection", "allowExternalMirkTransmission", "sendFocusedContextToMirk",
                           "keyEditorToggle", "mirkKeyField", "pasteKey", "saveKey", "deleteKey"};
    child(page, order[0])->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(spinUntil([&] { return QApplication::focusWidget() == child(page, order[0]); }));
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), child(page, order[i]))
            << "after " << order[i - 1] << " comes "
            << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "nothing");
        if (QApplication::focusWidget() != child(page, order[i])) child(page, order[i])->setFocus(Qt::TabFocusReason);
    }

    // Arrows move the density; each move is written.
    auto* balanced = child(page, "densityBalanced");
    balanced->setFocus(Qt::TabFocusReason);
    QTest::keyClick(balanced, Qt::Key_Right);
    EXPECT_EQ(model->inputOptions().punctuationDensity, JapanesePunctuationDensity::dense);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(model->inputOptions().punctuationDensity, JapanesePunctuationDensity::light);
    EXPECT_EQ(document()["inputOptions"]["punctuationDensity"], "light");

    // Arrows in the style combo.
    auto* style = child<QComboBox>(page, "punctuationStyle");
    style->setFocus(Qt::TabFocusReason);
    QTest::keyClick(style, Qt::Key_Down);
    EXPECT_EQ(model->inputOptions().punctuationStyle, JapanesePunctuationStyle::academic);

    // Space toggles.
    auto* fillers = child<QCheckBox>(page, "removeFillers");
    fillers->setFocus(Qt::TabFocusReason);
    QTest::keyClick(fillers, Qt::Key_Space);
    EXPECT_FALSE(model->inputOptions().removeFillers);
    EXPECT_EQ(document()["inputOptions"]["removeFillers"], false);
}

}  // namespace
