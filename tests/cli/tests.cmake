target_link_libraries(${PELORA_TEST_TARGET} PRIVATE pelora_cli_core)
