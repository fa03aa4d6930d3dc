# The main window, its pages and the tray over the real controller and adapter, on the
# private test desktop (jwm's tray; XDND drops between processes).
set(PELORA_DESKTOP_TEST ON)
set(PELORA_DESKTOP_TEST_TIMEOUT 300)
pkg_check_modules(WINDOW_X11 REQUIRED IMPORTED_TARGET x11 xtst)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::WINDOW_X11 ${PELORA_APP_PLATFORM_LIBS})
set_target_properties(${PELORA_TEST_TARGET} PROPERTIES AUTOMOC ON)  # test-local QObjects (a URL handler)
