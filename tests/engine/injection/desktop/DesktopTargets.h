#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/TargetApplication.h"

namespace pelora::testing {

// The text fields of the Qt and GTK targets that the injector is tried on.
enum class Field { qtLine, qtRich, qtReadOnly, qtSecret, gtkEntry, gtkView, gtkReadOnly };

std::string fieldName(Field field);
bool isQt(Field field);
// A test name: the field and the case's index.
std::string caseName(Field field, std::size_t index);

struct FieldSetup {
    Field field = Field::qtLine;
    std::string text = {};
    // The caret stands after this prefix of `text` (none: at the end), with `selected`
    // after it selected.
    std::optional<std::string> beforeCaret = std::nullopt;
    std::string selected = {};
    std::optional<std::string> placeholder = std::nullopt;
    // More arguments for the target.
    std::vector<std::string> arguments = {};
};

// A field as its application reported it when it closed.
struct FinalField {
    std::string value;
    // The part of the value before the caret.
    std::string beforeCaret;
};

class DesktopTargetTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Starts the field's application with the field focused, caret or selection placed,
    // and makes its window the active one.
    static TargetApplication startWith(const FieldSetup& setup);
    // Closes the application and reads the fields it printed.
    static nlohmann::json closeAndReadState(TargetApplication& target);
    static FinalField finalFields(TargetApplication& target, Field field);
};

}  // namespace pelora::testing
