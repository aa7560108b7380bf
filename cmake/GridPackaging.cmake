# make dist: CPack archives of an installed release build. Windows: a ZIP (and the MSI of the msi
# target); Linux: a .deb and a .tar.gz.
# Every component but the debug files goes in (the host stand-in too: gridctl needs it).
set(CPACK_PACKAGE_NAME GridApi)
set(CPACK_PACKAGE_VENDOR "GridApi")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Storage access plug-in: Win32 file operations on network shares with retry rules")
# The package's long description is a paragraph, not the whole README.
set(CPACK_PACKAGE_DESCRIPTION
    "A storage server loads GridApi as a plug-in and does its file work on network shares through the \
file-services object that its one exported factory gives. Every operation has the shape and result of \
the Win32 call it stands for; the library retries by per-error rules read from the server's settings, \
re-opens a lost file at its kept position, and reports a final failure in the log and as a system event. \
On Linux the Win32 file calls are provided over POSIX for shares mounted with CIFS, NFS or sshfs.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES OFF)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/dist)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME GridApi-${PROJECT_VERSION}-win64)
else()
    set(CPACK_GENERATOR "DEB;TGZ")
    set(CPACK_PACKAGE_FILE_NAME GridApi-${PROJECT_VERSION}-linux-x86_64)
    set(CPACK_DEBIAN_PACKAGE_NAME gridapi)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "GridApi developers")
    set(CPACK_DEBIAN_PACKAGE_SECTION libs)
    # Boost.Filesystem, SQLite and the C++ runtime from Debian's own packages.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)

if(WIN32)
    # make dist: the Windows Installer package beside the ZIP, made with wixl and msitools.
    add_custom_target(msi
        COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR} -DVERSION=${PROJECT_VERSION}
                "-DEVENT_SOURCE=${GRID_EVENT_SOURCE}" "-DSUMMARY=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
                -DOUTPUT=${CPACK_OUTPUT_FILE_PREFIX}/GridApi-${PROJECT_VERSION}-x64.msi
                -DSTAGE=${PROJECT_BINARY_DIR}/msi-stage -P ${PROJECT_SOURCE_DIR}/cmake/GridMsi.cmake
        DEPENDS GridApi StravoHost gridctl
        COMMENT "Windows Installer package GridApi-${PROJECT_VERSION}-x64.msi"
        VERBATIM)
endif()
