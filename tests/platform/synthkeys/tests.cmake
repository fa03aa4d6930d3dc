# The tests read the posted keys back as an X client of their own.
pkg_check_modules(SYNTHKEYS_TEST_X REQUIRED IMPORTED_TARGET x11 xtst xkbcommon)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::SYNTHKEYS_TEST_X)
