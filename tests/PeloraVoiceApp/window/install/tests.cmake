# Installs the application into a temporary prefix: the program must be built first.
add_dependencies(${PELORA_TEST_TARGET} PeloraVoice2)
