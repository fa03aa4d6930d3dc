set(PELORA_DESKTOP_TEST ON)
# The operations run once in a process of their own, for desktops without a display or
# without an accessibility bus.
add_executable(pelora-injector-probe ${CMAKE_CURRENT_LIST_DIR}/probe/injector_probe.cpp)
target_link_libraries(pelora-injector-probe PRIVATE PeloraVoiceEngine ${PELORA_PLATFORM_LIBS}
  nlohmann_json::nlohmann_json pelora_warnings)
target_include_directories(pelora-injector-probe PRIVATE ${CMAKE_SOURCE_DIR})
add_dependencies(${PELORA_TEST_TARGET} pelora-injector-probe)
target_compile_definitions(${PELORA_TEST_TARGET} PRIVATE
  PELORA_INJECTOR_PROBE_PATH="$<TARGET_FILE:pelora-injector-probe>"
  PELORA_DESKTOP_RUN_PATH="$<TARGET_FILE:pelora-desktop-run>")
