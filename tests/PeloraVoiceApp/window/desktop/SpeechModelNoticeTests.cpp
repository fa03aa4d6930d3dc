// The first start without a Japanese speech model, over the real engine and the real
// window: the studio's notice (where the model goes), its folder button, and a new look
// once a model is in place. The engine reads its data folder and model server once per
// process, so the test runs alone in a fresh process of this program.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/controller/PeloraDictationEngine.h"
#include "PeloraVoiceApp/window/CardFrame.h"
#include "PeloraVoiceApp/window/ElidedLabel.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/MenuBarExtra.h"
#include "PeloraVoiceApp/window/SidebarView.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "engine/recognition/JapaneseSpeechAssets.h"
#include "engine/recognition/ModelManager.h"
#include "tests/support/LocalHttpServer.h"
#include "tests/support/RerunTest.h"
#include "tests/support/TempDir.h"
#include "tests/support/TinyWhisperModel.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdlib>

using namespace pelora;
using namespace pelora::window_testing;
namespace fs = std::filesystem;

namespace {

// Takes the URLs the application asks the desktop to open, in place of the file manager.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    explicit OpenedUrls(const QString& scheme) : scheme_(scheme) { QDesktopServices::setUrlHandler(scheme_, this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(scheme_); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.push_back(url); }

private:
    QString scheme_;
};

class SpeechModelNotice : public controller_testing::ControllerFixture {
protected:
    void SetUp() override {
        if (!pelora::testing::insideDesktopTestBed()) GTEST_SKIP() << "runs only inside the private test desktop";
    }

    // The data folder and a model server that is gone (nothing can be downloaded), fixed for
    // this process; then the controller over the real engine, real workers and the Qt main loop.
    void startWithoutModels() {
        std::string deadServer;
        {
            pelora::testing::LocalHttpServer server;
            deadServer = server.baseURL();
        }
        ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        ::setenv(ModelManager::serverEnvironmentVariable, deadServer.c_str(), 1);
        ::unsetenv(JapaneseSpeechAssets::modelEnvironmentVariable);
        desktopApplication();
        realModel = std::make_unique<AppViewModel>(over(mainLoop, std::make_shared<PeloraDictationEngine>()));
        app = std::make_unique<PeloraVoiceApp>(*realModel);
        app->setQuitHandler([] {});
        app->start();  // the window's showing starts the boot
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    }
    void TearDown() override {
        app.reset();
        realModel.reset();
        QCoreApplication::processEvents();
    }
    bool bootEnded() {
        return spinUntil([this] { return !realModel->isLoadingEngine(); }, 120s);
    }
    StudioPage& page() { return *app->mainWindow().studioPage(); }

    pelora::testing::TempDir home;
    QtMainThreadScheduler mainLoop;
    std::unique_ptr<AppViewModel> realModel;
    std::unique_ptr<PeloraVoiceApp> app;
};

TEST_F(SpeechModelNotice, FirstStartWithoutAModelShowsWhereItGoesAndLooksAgainOnceItIsThere) {
    if (IsSkipped() || pelora::testing::rerunCurrentTestIn({}, {})) return;
    startWithoutModels();
    const fs::path speechFolder = home / "data" / "PeloraVoice2" / "speech" / "ja";
    ASSERT_TRUE(bootEnded());

    // The notice, after the earlier-version warning and before the error banner.
    ASSERT_TRUE(realModel->speechModelMissingMessage().has_value());
    const QString message = QString::fromStdString(*realModel->speechModelMissingMessage());
    EXPECT_TRUE(message.contains(QString::fromStdString(speechFolder.string()))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("PELORAVOICE_SPEECH_MODEL"))) << message.toStdString();
    EXPECT_TRUE(page().speechModelBanner()->isVisible());
    EXPECT_EQ(page().speechModelText()->text(), message);
    EXPECT_FALSE(page().speechModelBanner()->findChildren<QLabel*>().isEmpty());
    QStringList texts;
    for (QLabel* label : page().speechModelBanner()->findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("日本語音声モデルが見つかりません"))) << texts.join('|').toStdString();
    auto* column = qobject_cast<QVBoxLayout*>(page().layout());
    ASSERT_TRUE(column);
    EXPECT_LT(column->indexOf(page().legacyBanner()), column->indexOf(page().speechModelBanner()));
    EXPECT_LT(column->indexOf(page().speechModelBanner()), column->indexOf(page().errorBanner()));
    EXPECT_EQ(app->menuBarExtra().statusItem()->text(), QStringLiteral("○ 日本語音声モデルが未インストールです"));
    EXPECT_EQ(app->mainWindow().sidebar()->statusLabel()->fullText(), message);
    EXPECT_FALSE(realModel->errorMessage().has_value()) << "a missing model is no error banner";

    // "フォルダを開く": the folder is made and handed to the desktop as a file URL.
    fs::remove_all(speechFolder);
    {
        OpenedUrls opened(QStringLiteral("file"));
        QTest::mouseClick(page().speechModelFolderButton(), Qt::LeftButton);
        EXPECT_TRUE(fs::is_directory(speechFolder));
        ASSERT_EQ(opened.urls.size(), 1);
        EXPECT_EQ(opened.urls.front(), QUrl::fromLocalFile(QString::fromStdString(speechFolder.string())));
    }

    // A model copied in, then "再確認": the notice goes, the engine is ready in Japanese mode.
    pelora::testing::writeTinyWhisperModel(speechFolder / "ggml-tiny-random.bin");
    QTest::mouseClick(page().speechModelRecheckButton(), Qt::LeftButton);
    EXPECT_TRUE(realModel->isLoadingEngine());
    EXPECT_FALSE(page().speechModelBanner()->isVisible()) << "cleared as the new look starts";
    ASSERT_TRUE(bootEnded());
    EXPECT_FALSE(realModel->speechModelMissingMessage().has_value());
    EXPECT_FALSE(page().speechModelBanner()->isVisible());
    EXPECT_EQ(app->menuBarExtra().statusItem()->text(), QStringLiteral("● 準備完了 (日本語モード)"));
    EXPECT_EQ(app->mainWindow().sidebar()->statusLabel()->fullText(), QStringLiteral("準備完了 (日本語モード)"));
}

}  // namespace

#include "SpeechModelNoticeTests.moc"
