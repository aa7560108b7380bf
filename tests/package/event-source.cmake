# Under Wine: gridctl event-source install writes the registration, status and reg.exe read it back,
# uninstall removes it.
#   cmake -DRUN=<wine-run.sh;prefix> -DGRIDCTL=<gridctl.exe> -DSOURCE=<event source> -P event-source.cmake
include(${CMAKE_CURRENT_LIST_DIR}/Check.cmake)
set(key "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\${SOURCE}")
grid_check(0 "registered event source \"${SOURCE}\"" ${RUN} ${GRIDCTL} event-source install)
grid_check(0 "is registered\r?\n  EventMessageFile: [^\n]*GridApi.dll\r?\n  TypesSupported: +7" ${RUN} ${GRIDCTL} event-source status)
grid_check(0 "EventMessageFile +REG_EXPAND_SZ +[^\n]*GridApi.dll.*TypesSupported +REG_DWORD +0x7" ${RUN} reg query ${key})
grid_check(0 "removed event source" ${RUN} ${GRIDCTL} event-source uninstall)
grid_check(1 "is not registered" ${RUN} ${GRIDCTL} event-source status)
grid_check(1 "" ${RUN} reg query ${key})
