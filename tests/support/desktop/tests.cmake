set(PELORA_DESKTOP_TEST ON)
pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2)
pkg_check_modules(XTST REQUIRED IMPORTED_TARGET xtst)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::ATSPI PkgConfig::XTST)
