# The real program on the private test desktop: identity, one instance per session.
set(PELORA_DESKTOP_TEST ON)
pkg_check_modules(WINDOW_PROGRAM_X11 REQUIRED IMPORTED_TARGET x11)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::WINDOW_PROGRAM_X11)
add_dependencies(${PELORA_TEST_TARGET} PeloraVoice2)
target_compile_definitions(${PELORA_TEST_TARGET} PRIVATE PELORA_APP_PATH="$<TARGET_FILE:PeloraVoice2>")
set(PELORA_DESKTOP_TEST_TIMEOUT 300)
