# The tests press keys through XTest and play other X clients with plain Xlib.
pkg_check_modules(KEYMONITOR_TEST_X11 REQUIRED IMPORTED_TARGET x11 xtst)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::KEYMONITOR_TEST_X11)
# Runs in the private desktop (Xvfb).
set(PELORA_DESKTOP_TEST ON)
