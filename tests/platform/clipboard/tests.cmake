set(PELORA_DESKTOP_TEST ON)
# A stand-in clipboard manager speaks Xlib itself.
pkg_check_modules(CLIPBOARD_TEST_X11 REQUIRED IMPORTED_TARGET x11)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::CLIPBOARD_TEST_X11)
