# The controller's later flows on a real desktop: the file picker's dialog, and a whole
# dictation corrected in place in another application's Qt field and inserted again by the
# reinsert hot key (real keys through XTest, a tone into the sound server's microphone).
# Runs inside the private test desktop.
pkg_check_modules(AFTER_DESKTOP_TEST_X11 REQUIRED IMPORTED_TARGET x11 xtst)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::AFTER_DESKTOP_TEST_X11 ${PELORA_APP_PLATFORM_LIBS})
set(PELORA_DESKTOP_TEST ON)
set(PELORA_DESKTOP_TEST_TIMEOUT 300)
