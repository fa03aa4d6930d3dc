#pragma once

namespace pelora::testing {

// The session's accessibility switch (org.a11y.Status IsEnabled on the accessibility bus),
// as a desktop's settings set it. Setting it fails the calling test when the bus refuses.
void setAccessibilityEnabled(bool enabled);
bool accessibilityEnabled();

}  // namespace pelora::testing
