# The controller's later flows on a real desktop: the file picker's dialog. Runs inside the
# private test desktop.
set(PELORA_DESKTOP_TEST ON)
set(PELORA_DESKTOP_TEST_TIMEOUT 300)
