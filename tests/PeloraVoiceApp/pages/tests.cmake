# The settings pages as a user meets them: widgets over the real controller and adapter,
# in the private test desktop (X11 clipboard, keyboard focus, the accessibility bus).
set(PELORA_DESKTOP_TEST ON)
set(PELORA_DESKTOP_TEST_TIMEOUT 600)
