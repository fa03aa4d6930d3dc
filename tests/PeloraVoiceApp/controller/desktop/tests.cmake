# A whole dictation in the private desktop: real keys through XTest, speech into the
# sound server's microphone, the text in another application's Qt field.
pkg_check_modules(DICTATION_DESKTOP_TEST_X11 REQUIRED IMPORTED_TARGET x11 xtst)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::DICTATION_DESKTOP_TEST_X11 ${PELORA_APP_PLATFORM_LIBS})
set(PELORA_DESKTOP_TEST ON)
set(PELORA_DESKTOP_TEST_TIMEOUT 300)
