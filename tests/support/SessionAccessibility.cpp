#include "tests/support/SessionAccessibility.h"

#include "tests/support/RunCommand.h"

#include <gtest/gtest.h>

namespace pelora::testing {

void setAccessibilityEnabled(bool enabled) {
    const auto result =
        runCommand({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus", "--method",
                    "org.freedesktop.DBus.Properties.Set", "org.a11y.Status", "IsEnabled", enabled ? "<true>" : "<false>"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
}

bool accessibilityEnabled() {
    const auto result = runCommand({"gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path",
                                    "/org/a11y/bus", "--method", "org.freedesktop.DBus.Properties.Get", "org.a11y.Status",
                                    "IsEnabled"});
    return result.out.find("true") != std::string::npos;
}

}  // namespace pelora::testing
