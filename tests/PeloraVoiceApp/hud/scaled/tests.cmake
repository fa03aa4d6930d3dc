# The overlay at QT_SCALE_FACTOR=2 on two monitors side by side: an X screen of 2560 × 800 that
# the program splits into two 1280-wide monitors before its Qt application starts.
set(PELORA_DESKTOP_TEST ON)
set(PELORA_DESKTOP_RUN_OPTIONS --screen 2560x800)
pkg_check_modules(HUD_SCALED_X11 REQUIRED IMPORTED_TARGET x11 xtst)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::HUD_SCALED_X11)
# The target field is built by the overlay's desktop tests (../desktop).
add_dependencies(${PELORA_TEST_TARGET} pelora_hud_target_field)
target_compile_definitions(${PELORA_TEST_TARGET} PRIVATE
  PELORA_HUD_TARGET_FIELD="$<TARGET_FILE:pelora_hud_target_field>")
