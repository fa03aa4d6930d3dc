# The permission rows over the session's real sources (the accessibility bus, the X server,
# the sound server, the session bus). A program of its own: once this process's own
# accessibility client has joined the bus, the toolkit hands every key press to the
# accessibility registry first and delivers it later, which the pages' keyboard tests,
# sending keys and looking at once, must not meet.
set(PELORA_DESKTOP_TEST ON)
set(PELORA_DESKTOP_TEST_TIMEOUT 300)
target_link_libraries(${PELORA_TEST_TARGET} PRIVATE ${PELORA_APP_PLATFORM_LIBS})
