#include "tests/engine/injection/desktop/DesktopTargets.h"

#include <stdexcept>

#include "engine/injection/AccessibilityTextInjector.h"
#include "platform/accessibility/Utf16.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopTestBed.h"

namespace pelora::testing {

namespace {

// Code points of UTF-8 text (what the GTK target counts).
std::size_t codePoints(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

// The offset of the end of `prefix` in the field's own unit.
std::size_t offsetOf(Field field, const std::string& prefix) {
    return isQt(field) ? accessibility::toUtf16(prefix).size() : codePoints(prefix);
}

// The first `count` units of `text` in the field's own unit.
std::string prefixOf(Field field, const std::string& text, std::int64_t count) {
    if (count <= 0) return {};
    if (isQt(field)) return accessibility::toUtf8(accessibility::toUtf16(text).substr(0, static_cast<std::size_t>(count)));
    std::size_t points = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && points++ == static_cast<std::size_t>(count))
            return text.substr(0, i);
    }
    return text;
}

std::string htmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else out += c;
    }
    return out;
}

}  // namespace

std::string fieldName(Field field) {
    switch (field) {
        case Field::qtLine: return "QtLine";
        case Field::qtRich: return "QtRich";
        case Field::qtReadOnly: return "QtReadOnly";
        case Field::qtSecret: return "QtSecret";
        case Field::gtkEntry: return "GtkEntry";
        case Field::gtkView: return "GtkView";
        case Field::gtkReadOnly: return "GtkReadOnly";
    }
    return "?";
}

bool isQt(Field field) {
    return field == Field::qtLine || field == Field::qtRich || field == Field::qtReadOnly || field == Field::qtSecret;
}

std::string caseName(Field field, std::size_t index) { return fieldName(field) + "_" + std::to_string(index); }

void DesktopTargetTest::SetUp() {
    ASSERT_TRUE(insideDesktopTestBed()) << "run this program under pelora-desktop-run";
}

TargetApplication DesktopTargetTest::startWith(const FieldSetup& setup) {
    std::vector<std::string> args;
    const Field f = setup.field;
    const std::string before = setup.beforeCaret.value_or(setup.text);
    const auto caret = std::to_string(offsetOf(f, before));
    const auto selection =
        std::to_string(offsetOf(f, before)) + ":" + std::to_string(offsetOf(f, before + setup.selected));
    auto place = [&] {
        args.insert(args.end(), {setup.selected.empty() ? "--cursor" : "--select",
                                 setup.selected.empty() ? caret : selection});
    };
    switch (f) {
        case Field::qtLine:
            args = {"--focus", "line", "--line", setup.text};
            place();
            break;
        case Field::qtRich: {
            // The word "bold" is set in bold.
            std::string html = htmlEscaped(setup.text);
            if (const auto at = html.find("bold"); at != std::string::npos) html.replace(at, 4, "<b>bold</b>");
            args = {"--focus", "rich", "--rich-html", html};
            place();
            break;
        }
        case Field::qtReadOnly: args = {"--focus", "readonly"}; break;
        case Field::qtSecret: args = {"--focus", "secret"}; break;
        case Field::gtkEntry:
            args = {"--focus", "entry", "--entry", setup.text};
            place();
            break;
        case Field::gtkView:
            args = {"--focus", "view", "--view", setup.text};
            place();
            break;
        case Field::gtkReadOnly: args = {"--focus", "readonly"}; break;
    }
    if (setup.placeholder) args.insert(args.end(), {"--placeholder", *setup.placeholder});
    args.insert(args.end(), setup.arguments.begin(), setup.arguments.end());
    auto target = isQt(f) ? TargetApplication::qt({.arguments = args}) : TargetApplication::gtk({.arguments = args});
    target.activate();
    // The toolkit reports its focused field before the accessibility bus may show it (a busy
    // machine delays its focus and caret events): the tests start once the bus shows the
    // field focused and, with text in it, its caret. A field that never shows fails the test
    // at its first insertion.
    const bool editable = f != Field::qtReadOnly && f != Field::qtSecret && f != Field::gtkReadOnly;
    if (editable) {
        const auto pid = static_cast<std::int32_t>(target.pid());
        waitUntil(std::chrono::seconds(10), [&] {
            return AccessibilityTextInjector::hasFocusedEditableElement(pid) &&
                   (setup.text.empty() || AccessibilityTextInjector::getCaretBounds(pid).has_value());
        });
    }
    return target;
}

nlohmann::json DesktopTargetTest::closeAndReadState(TargetApplication& target) {
    const std::string printed = target.close();
    const auto state = nlohmann::json::parse(printed, nullptr, false);
    if (!state.is_object()) throw std::runtime_error("the target printed no state: " + printed);
    return state;
}

FinalField DesktopTargetTest::finalFields(TargetApplication& target, Field field) {
    const auto state = closeAndReadState(target);
    std::string key;
    switch (field) {
        case Field::qtLine: key = "line"; break;
        case Field::qtRich: key = "rich"; break;
        case Field::qtReadOnly:
        case Field::gtkReadOnly: key = "readonly"; break;
        case Field::qtSecret: key = "secret"; break;
        case Field::gtkEntry: key = "entry"; break;
        case Field::gtkView: key = "view"; break;
    }
    FinalField result;
    result.value = state.value(key, "");
    const auto cursor = state.find(key + "Cursor");
    if (cursor != state.end() && cursor->is_number_integer())
        result.beforeCaret = prefixOf(field, result.value, cursor->get<std::int64_t>());
    return result;
}

}  // namespace pelora::testing
