// pelora-injector-probe [pid]: runs each accessibility operation of the injector once, in
// a process of its own (so the tests can give it a desktop without a display or without
// an accessibility bus), and prints one JSON line: each answer and how long it took.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/injection/AccessibilityTextInjector.h"
#include "engine/injection/FocusedTextContextReader.h"
#include "engine/injection/TextInjectionError.h"

namespace {

template <typename F>
double millisecondsOf(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    using pelora::AccessibilityTextInjector;
    std::optional<std::int32_t> pid;
    if (argc > 1) pid = static_cast<std::int32_t>(std::atoi(argv[1]));
    nlohmann::json out;
    out["trustedMs"] = millisecondsOf([&] { out["trusted"] = AccessibilityTextInjector::isAccessibilityTrusted(); });
    out["injectMs"] = millisecondsOf([&] {
        try {
            AccessibilityTextInjector::injectDirectAX("probe", pid, true);
            out["inject"] = "inserted";
        } catch (const pelora::TextInjectionError& error) {
            out["inject"] = error.what();
        }
    });
    out["captureMs"] = millisecondsOf([&] {
        std::optional<pelora::ActiveApplicationSnapshot> target;
        if (pid) target = pelora::ActiveApplicationSnapshot{*pid, "probe.bundle", "Probe"};
        const auto context = pelora::FocusedTextContextReader::capture(target);
        out["captureEmpty"] = context.isEmpty();
        out["captureAppName"] = context.appName.value_or("");
    });
    out["caretMs"] = millisecondsOf([&] { out["caret"] = AccessibilityTextInjector::getCaretBounds(pid).has_value(); });
    out["frameMs"] =
        millisecondsOf([&] { out["frame"] = AccessibilityTextInjector::getFocusedElementFrame(pid).has_value(); });
    out["menuMs"] =
        millisecondsOf([&] { out["menu"] = AccessibilityTextInjector::triggerMenuBarPaste(pid, std::nullopt); });
    std::puts(out.dump().c_str());
    return 0;
}
