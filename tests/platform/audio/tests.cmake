# Runs beside the private desktop's sound server (null sinks "speaker" and "micfeed",
# "virtmic" as the default source).
set(PELORA_DESKTOP_TEST ON)
