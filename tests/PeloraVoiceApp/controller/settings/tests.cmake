# A program that saves the settings document in a loop, killed at random moments by the
# crash-safety test.
add_executable(pelora-settings-save-loop ${CMAKE_CURRENT_LIST_DIR}/programs/settings_save_loop.cpp)
target_link_libraries(pelora-settings-save-loop PRIVATE pelora_app pelora_warnings)
add_dependencies(${PELORA_TEST_TARGET} pelora-settings-save-loop)
target_compile_definitions(${PELORA_TEST_TARGET} PRIVATE
  PELORA_SETTINGS_SAVE_LOOP="$<TARGET_FILE:pelora-settings-save-loop>")
