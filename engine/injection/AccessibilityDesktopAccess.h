#pragma once

namespace pelora {

namespace accessibility {
class AccessibilityDesktop;
}

// The desktop the injector and the context reader talk to: the real accessibility bus,
// or what a test put there with AccessibilityTextInjector::useAccessibilityForTesting.
accessibility::AccessibilityDesktop& injectionAccessibilityDesktop();

}  // namespace pelora
