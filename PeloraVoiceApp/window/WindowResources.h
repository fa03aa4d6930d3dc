#pragma once

// Registers the window's resources (our application icon and the window's symbols) that
// live in the static library; safe to call repeatedly.
void registerWindowResources();
