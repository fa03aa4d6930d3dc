# The overlay on a real desktop: focus, clicks, placement and pixels. Runs inside the
# private test desktop, with its own target application.
set(PELORA_DESKTOP_TEST ON)
pkg_check_modules(HUD_X11 REQUIRED IMPORTED_TARGET x11 xtst xext)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE PkgConfig::HUD_X11)

find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)
add_executable(pelora_hud_target_field ${CMAKE_CURRENT_LIST_DIR}/target/HUDTargetField.cpp)
target_link_libraries(pelora_hud_target_field PRIVATE Qt6::Widgets pelora_warnings)
set_target_properties(pelora_hud_target_field PROPERTIES AUTOMOC OFF)
add_dependencies(${PELORA_TEST_TARGET} pelora_hud_target_field)
target_compile_definitions(${PELORA_TEST_TARGET} PRIVATE
  PELORA_HUD_TARGET_FIELD="$<TARGET_FILE:pelora_hud_target_field>")
