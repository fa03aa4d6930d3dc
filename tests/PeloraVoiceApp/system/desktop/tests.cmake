# Real keys through XTest in the private desktop.
pkg_check_modules(SYSTEM_DESKTOP_TEST_X11 REQUIRED IMPORTED_TARGET x11 xtst)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::SYSTEM_DESKTOP_TEST_X11 ${PELORA_APP_PLATFORM_LIBS})
set(PELORA_DESKTOP_TEST ON)
