# Keys typed into the Qt, GTK and terminal targets on the private desktop.
set(PELORA_DESKTOP_TEST ON)
