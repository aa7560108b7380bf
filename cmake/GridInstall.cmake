# cmake --install: the library, its headers, gridctl and a CMake package (find_package(GridApi CONFIG)
# gives GridApi::GridApi), plus a pkg-config file on Linux. Components:
#   runtime      GridApi.dll / libGridApi.so.1 (and on Linux libGridPlatform.so.1, the Win32 file calls)
#   development  public headers, import library, CMake package, pkg-config file
#   host         the stand-in for the storage server's own library (StravoHost) and its headers: gridctl
#                and a build without the server need it; a server's build supplies its own instead
#   tools        gridctl
#   docs         README and docs, licences of what the Windows build links statically
#   debug        the .debug files of a GRID_SPLIT_DEBUG build (only when asked for by name)
include(CMakePackageConfigHelpers)
set(GRID_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/GridApi)
set(GRID_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/GridApi)

# Three export files, loaded in this order: each one's targets link only to those before it.
function(grid_install_library target export component)
    install(TARGETS ${target} EXPORT ${export}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${component} NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
    install(EXPORT ${export} NAMESPACE GridApi:: DESTINATION ${GRID_CMAKE_DIR} COMPONENT development)
endfunction()
if(NOT WIN32)
    grid_install_library(GridPlatform GridApiPlatformTargets runtime)
endif()
grid_install_library(StravoHost GridApiHostTargets host)
grid_install_library(GridApi GridApiTargets runtime)
install(TARGETS gridctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/GridApi ${PROJECT_SOURCE_DIR}/platform/include/platform
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/include/StravoHost DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT host)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/GridApiConfig.cmake.in
    ${PROJECT_BINARY_DIR}/GridApiConfig.cmake INSTALL_DESTINATION ${GRID_CMAKE_DIR})
# 0.x: a newer minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/GridApiConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/GridApiConfig.cmake ${PROJECT_BINARY_DIR}/GridApiConfigVersion.cmake
    DESTINATION ${GRID_CMAKE_DIR} COMPONENT development)
if(NOT WIN32)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/gridapi.pc.in ${PROJECT_BINARY_DIR}/gridapi.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/gridapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${GRID_DOC_DIR} COMPONENT docs)
# The documents as they are at install time (a glob would keep the list of the last configure).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${GRID_DOC_DIR} COMPONENT docs FILES_MATCHING PATTERN "*.md")
if(WIN32)
    # Linked statically into the DLLs and gridctl.exe: Boost.Filesystem, SQLite (public domain), the
    # GCC runtime (libstdc++, libgcc: GPL with the runtime library exception), mingw-w64's runtime
    # and winpthreads. The texts are Debian's copyright files of those packages.
    install(FILES ${PROJECT_SOURCE_DIR}/resources/licences/README.txt DESTINATION licences COMPONENT docs)
    foreach(package libboost1.74-dev gcc-mingw-w64-base mingw-w64-common)
        install(FILES /usr/share/doc/${package}/copyright DESTINATION licences
            RENAME ${package}.copyright.txt COMPONENT docs)
    endforeach()
endif()

# The release builds: each installed binary is stripped, its debug information kept in
# <build>/debug/<file>.debug (objcopy --only-keep-debug) and linked back with a debug link; the build
# tree keeps the unstripped binaries.
if(GRID_SPLIT_DEBUG)
    # target:component:directory
    set(libdir ${CMAKE_INSTALL_LIBDIR})
    if(WIN32)
        set(libdir ${CMAKE_INSTALL_BINDIR})
    endif()
    set(split gridctl:tools:${CMAKE_INSTALL_BINDIR} StravoHost:host:${libdir} GridApi:runtime:${libdir})
    if(NOT WIN32)
        list(APPEND split GridPlatform:runtime:${libdir})
    endif()
    foreach(entry IN LISTS split)
        string(REPLACE ":" ";" entry ${entry})
        list(GET entry 0 target)
        list(GET entry 1 component)
        list(GET entry 2 dir)
        set(debug ${PROJECT_BINARY_DIR}/debug/$<TARGET_FILE_NAME:${target}>.debug)
        install(CODE "
            set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/$<TARGET_FILE_NAME:${target}>\")
            file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debug)
            foreach(step \"--only-keep-debug;\${file};${debug}\" \"--strip-unneeded;\${file}\"
                         \"--add-gnu-debuglink=${debug};\${file}\")
                execute_process(COMMAND ${CMAKE_OBJCOPY} \${step} COMMAND_ERROR_IS_FATAL ANY)
            endforeach()" COMPONENT ${component})
    endforeach()
endif()
