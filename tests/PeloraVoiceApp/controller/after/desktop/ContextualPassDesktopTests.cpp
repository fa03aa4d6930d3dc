// A whole dictation followed by its contextual pass on the private desktop: Right Alt held
// through XTest while a tone plays into the microphone, the scripted recogniser's text in
// another application's Qt field, the decision service on 127.0.0.1 choosing the
// correction, the field fixed in place, and the reinsert hot key typing the corrected
// text once more.
#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/DesktopDictationCollaborators.h"
#include "engine/injection/ReinsertShortcutPreset.h"
#include "platform/keymonitor/KeyMonitor.h"
#include "tests/PeloraVoiceApp/controller/desktop/ScriptedJapaneseEngine.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/QtEventLoop.h"
#include "tests/support/RerunTest.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScriptedDecisionService.h"
#include "tests/support/TargetApplication.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace pelora;
using namespace std::chrono_literals;
using pelora::testing::ChildProcess;
using pelora::testing::ScriptedDecisionService;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;
using pelora::testing::runCommand;
namespace preset = pelora::reinsert_shortcut_preset;
namespace mod = pelora::keymonitor::modifier;
using pelora::testing::ensureApplication;
using pelora::testing::spinFor;
using pelora::testing::spinUntil;

namespace {

const std::string heard = "思考錯誤しながら進めますまる";
const std::string inserted = "思考錯誤しながら進めます。";
const std::string corrected = "試行錯誤しながら進めます。";

// Keys pressed through XTest on the private desktop; whatever is still down at the end is let go.
class Keyboard {
public:
    Keyboard() : display_(XOpenDisplay(nullptr)) {}
    ~Keyboard() {
        if (!display_) return;
        for (KeySym k : held_) set(k, false);
        XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    void set(KeySym keysym, bool down) {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, keysym), down ? True : False, CurrentTime);
        XSync(display_, False);
        std::erase(held_, keysym);
        if (down) held_.push_back(keysym);
    }
    // The preset's modifiers held around its key, as a user presses the combination.
    void press(ReinsertShortcutPreset p) {
        std::vector<KeySym> modifiers;
        const unsigned mask = preset::x11ModifierMask(p);
        if (mask & mod::control) modifiers.push_back(XK_Control_L);
        if (mask & mod::mod1) modifiers.push_back(XK_Alt_L);
        if (mask & mod::mod4) modifiers.push_back(XK_Super_L);
        if (mask & mod::shift) modifiers.push_back(XK_Shift_L);
        for (KeySym k : modifiers) set(k, true);
        set(preset::x11Keysym(p), true);
        spinFor(40);
        set(preset::x11Keysym(p), false);
        for (KeySym k : modifiers) set(k, false);
    }

private:
    Display* display_;
    std::vector<KeySym> held_;
};

// The service chooses the candidate that writes 試行錯誤; before it answers, it notes
// whether the field already showed the text as inserted. Other questions get no answers.
void chooseTheCorrection(ScriptedDecisionService& service, const TargetApplication& target,
                         std::atomic<bool>& fieldShowedInserted) {
    service.answerWith([&service, &target, &fieldShowedInserted](const nlohmann::json& body) {
        (void)service;
        nlohmann::json answers = nlohmann::json::object();
        if (body.is_object() && body.contains("questions") && body["questions"].contains("correction")) {
            if (target.waitForField("line", inserted, 5s)) fieldShowedInserted = true;
            for (const auto& candidate : body["state"]["candidates"])
                if (candidate.value("candidate_text", "") == "試行錯誤")
                    answers["correction"] = {{"choice", candidate["id"]}, {"confidence", 0.97}};
        }
        return ScriptedDecisionService::json({{"answers", answers}});
    });
}

TEST(ContextualPassDesktop, TheInsertedDictationIsCorrectedInPlaceAndTheHotKeyInsertsItAgain) {
    // The decision-service client reads its host once per process.
    if (pelora::testing::rerunCurrentTestIn({}, {})) return;
    ensureApplication("after-desktop-tests");
    Keyboard keyboard;
    ASSERT_TRUE(keyboard.ok()) << "runs in the private desktop";
    TempDir dir;
    const auto tone = dir.path() / "tone.wav";
    const auto made = runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                  "sine=frequency=440:sample_rate=16000:duration=1.5", "-af", "volume=0.3",
                                  tone.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    // No menu bar: a lone Alt would move the focus to it (see the desktop dictation test).
    auto target = TargetApplication::qt({{"--focus", "line", "--no-menu-bar"}});
    target.activate();
    ScriptedDecisionService service;
    std::atomic<bool> fieldShowedInserted{false};
    chooseTheCorrection(service, target, fieldShowedInserted);
    ::setenv("PELORAVOICE_MIRK_HOST", service.server().baseURL().c_str(), 1);

    auto recognizer =
        std::make_shared<dictation_desktop::ScriptedJapaneseRecognizer>(std::vector<std::string>{heard}, 0, 0);
    auto collaborators = std::make_unique<DesktopDictationCollaborators>(
        std::make_shared<dictation_desktop::ScriptedJapaneseEngine>(recognizer));
    auto vm = std::make_unique<AppViewModel>(collaborators->collaborators());
    ASSERT_TRUE(vm->isMirkAPIKeyConfigured());
    vm->setEnableHomophoneReranking(true);
    vm->setEnableMirkContextCorrection(true);
    vm->setAllowExternalMirkTransmission(true);
    vm->setAutoPasteEnabled(true);
    ASSERT_EQ(vm->reinsertShortcutPreset(), ReinsertShortcutPreset::optionShiftV) << "the default preset";
    ASSERT_TRUE(vm->reinsertShortcutEnabled());
    vm->bootEngine();
    ASSERT_TRUE(spinUntil([&] { return !vm->isLoadingEngine(); }, 30'000));
    ASSERT_TRUE(spinUntil(
        [&] { return vm->lastExternalApp() && vm->lastExternalApp()->processIdentifier == target.pid(); }, 30'000))
        << "the target never came to the front";

    keyboard.set(XK_Alt_R, true);
    ASSERT_TRUE(spinUntil([&] { return vm->isRecording(); }, 10'000)) << vm->errorMessage().value_or("");
    ChildProcess player({.argv = {"paplay", "--latency-msec=10", "-d", "micfeed", tone.string()}});
    ASSERT_TRUE(spinUntil([&] { return !player.running(); }, 30'000)) << "paplay never ended";
    spinFor(300);  // the last buffers through the sound server
    keyboard.set(XK_Alt_R, false);

    auto describe = [&] {
        return "field: " + target.field("line") + "; error: " + vm->errorMessage().value_or("") +
               "; result: " + (vm->currentResult() ? vm->currentResult()->text : std::string("none")) +
               "; outcome: " +
               (vm->lastInjectionOutcome() ? vm->lastInjectionOutcome()->summaryBadge() : std::string("none")) +
               "; requests: " + std::to_string(service.requestCount());
    };
    ASSERT_TRUE(spinUntil([&] { return target.field("line") == corrected; }, 60'000)) << describe();
    EXPECT_TRUE(fieldShowedInserted) << "the field read \"" << inserted << "\" while the service decided";
    // The fix in the field comes first; the pass then shows its result.
    ASSERT_TRUE(spinUntil([&] { return vm->lastMirkAutoReplaceSummary().has_value(); }, 10'000)) << describe();
    EXPECT_EQ(recognizer->runs, 1);
    ASSERT_EQ(vm->history().size(), 1u);
    const HistoryEntry& entry = vm->history()[0];
    EXPECT_EQ(entry.result.text, corrected);
    EXPECT_EQ(entry.result.rawText, heard);
    EXPECT_EQ(vm->currentResult()->text, corrected);
    EXPECT_EQ(vm->lastTranscribedText(), corrected);
    const auto& annotations = entry.result.telemetry.appliedRuleAnnotations;
    EXPECT_NE(std::find(annotations.begin(), annotations.end(), "🌐 MIRK API(mirk-latest): 思考錯誤 → 試行錯誤"),
              annotations.end())
        << "the service's choice made the change";

    spinFor(300);
    keyboard.press(ReinsertShortcutPreset::optionShiftV);
    EXPECT_TRUE(spinUntil([&] { return target.field("line") == corrected + corrected; }, 30'000)) << describe();
    ASSERT_TRUE(vm->lastInjectionOutcome().has_value());
    EXPECT_TRUE(vm->lastInjectionOutcome()->isDirectInsert()) << vm->lastInjectionOutcome()->summaryBadge();
    EXPECT_EQ(vm->history().size(), 1u) << "a reinsertion adds no entry";
    EXPECT_EQ(vm->errorMessage(), std::nullopt);

    vm.reset();
    collaborators.reset();
    spinFor(50);
}

}  // namespace
