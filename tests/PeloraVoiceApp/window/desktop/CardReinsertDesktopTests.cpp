// The output card's reinsert button over the desktop's own collaborators (front-application
// tracker, insertion orchestrator, clipboard, accessibility): a file's result, transcribed
// by a scripted recogniser, goes into the Qt field of another application.
#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/DesktopDictationCollaborators.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/OutputCard.h"
#include "PeloraVoiceApp/window/PeloraVoiceApplication.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "tests/PeloraVoiceApp/controller/desktop/ScriptedJapaneseEngine.h"
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TargetApplication.h"
#include "tests/support/TempDir.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace pelora;
using namespace pelora::window_testing;
using pelora::testing::runCommand;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;

namespace {

TEST(CardReinsertDesktop, ReinsertButtonPutsTheResultIntoAnotherApplicationsQtField) {
    if (!pelora::testing::insideDesktopTestBed()) GTEST_SKIP() << "runs only inside the private test desktop";
    desktopApplication();
    controller_testing::PrivateConfigHome configHome;
    TempDir dir;
    const auto wav = dir.path() / "memo.wav";
    const auto made = runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                  "sine=frequency=300:sample_rate=16000:duration=1", "-ac", "1", wav.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    auto target = TargetApplication::qt({{"--focus", "line", "--no-menu-bar"}});
    auto recognizer = std::make_shared<dictation_desktop::ScriptedJapaneseRecognizer>(
        std::vector<std::string>{"えーと、来週の会議は木曜日ですまる"}, 0.0, 0.0);
    auto collaborators = std::make_unique<DesktopDictationCollaborators>(
        std::make_shared<dictation_desktop::ScriptedJapaneseEngine>(recognizer));
    auto vm = std::make_unique<AppViewModel>(collaborators->collaborators());
    auto shell = std::make_unique<PeloraVoiceApp>(*vm);
    shell->setQuitHandler([] {});
    shell->start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shell->mainWindow()));
    ASSERT_TRUE(spinUntil([&] { return !vm->isLoadingEngine(); }, 30s));

    // A file's result: shown in the card, inserted nowhere.
    OutputCard& card = *shell->mainWindow().studioPage()->outputCard();
    EXPECT_FALSE(card.reinsertButton()->isEnabled());
    vm->transcribeAudioFile(wav);
    ASSERT_TRUE(spinUntil([&] { return vm->currentResult().has_value() && !vm->isTranscribing(); }, 60s))
        << vm->errorMessage().value_or("");
    const std::string text = vm->currentResult()->text;
    ASSERT_EQ(text, "来週の会議は木曜日です。");
    ASSERT_TRUE(card.reinsertButton()->isEnabled());
    EXPECT_EQ(target.field("line"), "");

    // The user was in the other application, then comes to our window and presses the button.
    target.activate();
    ASSERT_TRUE(spinUntil(
        [&] { return vm->lastExternalApp() && vm->lastExternalApp()->processIdentifier == target.pid(); }, 30s))
        << "the tracker never saw the target in front";
    shell->mainWindow().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&shell->mainWindow()));
    QTest::mouseClick(card.reinsertButton(), Qt::LeftButton);

    EXPECT_TRUE(spinUntil([&] { return target.field("line") == text; }, 60s))
        << "field: " << target.field("line") << "; outcome: "
        << (vm->lastInjectionOutcome() ? vm->lastInjectionOutcome()->summaryBadge() : std::string("none"))
        << "; error: " << vm->errorMessage().value_or("") << "; target state: " << target.state().dump();
    ASSERT_TRUE(spinUntil([&] { return vm->lastInjectionOutcome().has_value(); }, 10s));
    EXPECT_TRUE(vm->lastInjectionOutcome()->isDirectInsert()) << vm->lastInjectionOutcome()->summaryBadge();
    // The footer names the outcome.
    EXPECT_TRUE(card.footer()->isVisible());
    EXPECT_EQ(card.outcomeText()->text().toStdString(), vm->lastInjectionOutcome()->summaryBadge());

    shell.reset();
    vm.reset();
    collaborators.reset();
    spinFor(50ms);
}

}  // namespace
