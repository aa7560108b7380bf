# Installs a build into a fresh prefix, checks the installed tree, then builds and runs the consumer
# project (tests/consumer) against it, as a GridApi user would.
#   cmake -DBUILD=<build dir> -DSOURCE=<source dir> -DWORK=<scratch dir> -DVERSION=<x.y.z>
#         [-DTOOLCHAIN=<file> -DBOOST_INCLUDE=<dir> -DRUN=<wine-run.sh;prefix>] -P install-and-consume.cmake
include(${CMAKE_CURRENT_LIST_DIR}/Check.cmake)
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
grid_check(0 "" ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

# The package's version file: which requests the installed version satisfies.
foreach(row "${VERSION};TRUE" "0.1;TRUE" "0.2;FALSE" "1.0;FALSE" "0.0.1;FALSE")
    list(GET row 0 PACKAGE_FIND_VERSION)
    list(GET row 1 expected)
    string(REPLACE "." ";" parts ${PACKAGE_FIND_VERSION})
    list(LENGTH parts PACKAGE_FIND_VERSION_COUNT)
    list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
    list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
    include(${prefix}/lib/cmake/GridApi/GridApiConfigVersion.cmake)
    if(NOT PACKAGE_VERSION_COMPATIBLE STREQUAL expected)
        message(FATAL_ERROR "GridApi ${PACKAGE_VERSION} answers ${PACKAGE_VERSION_COMPATIBLE} to a request for "
                            "${PACKAGE_FIND_VERSION} (expected ${expected})")
    endif()
endforeach()

set(dir "\\\\gridtest\\share\\consumer-dir")
set(configure -S ${SOURCE}/tests/consumer -B ${WORK}/consumer -DCMAKE_BUILD_TYPE=Release)
if(TOOLCHAIN)
    # Cross-compiling: the package by its directory (the toolchain confines searches to mingw's root).
    grid_check(0 "" ${CMAKE_COMMAND} ${configure} -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
               -DGridApi_DIR=${prefix}/lib/cmake/GridApi -DBoost_INCLUDE_DIR=${BOOST_INCLUDE} -DBoost_NO_BOOST_CMAKE=ON)
    grid_check(0 "" ${CMAKE_COMMAND} --build ${WORK}/consumer)
    # A Windows program finds its DLLs beside it.
    file(GLOB dlls ${prefix}/bin/*.dll)
    file(COPY ${dlls} DESTINATION ${WORK}/consumer)
    grid_check(0 "GridApi ${VERSION}: .* created 1, directory 1, removed 1, gone 1" ${RUN} ${WORK}/consumer/grid-consumer.exe ${dir})
    grid_check(0 "gridctl ${VERSION}" ${RUN} ${prefix}/bin/gridctl.exe --version)
    foreach(file bin/GridApi.dll bin/StravoHost.dll lib/GridApi.lib include/GridApi/GridFileServices.h
                 include/platform/win32.h include/StravoHost/FileServicesIf.h licences/README.txt)
        if(NOT EXISTS ${prefix}/${file})
            message(FATAL_ERROR "not installed: ${file}")
        endif()
    endforeach()
else()
    grid_check(0 "" ${CMAKE_COMMAND} ${configure} -DCMAKE_PREFIX_PATH=${prefix})
    grid_check(0 "" ${CMAKE_COMMAND} --build ${WORK}/consumer)
    grid_check(0 "GridApi ${VERSION}: .* created 1, directory 1, removed 1, gone 1" ${WORK}/consumer/grid-consumer ${dir})
    grid_check(0 "gridctl ${VERSION}" ${prefix}/bin/gridctl --version)
    # The tools component's man page (from --help) and bash completion.
    grid_check(0 "retry every error" grep -e "retry every error" ${prefix}/share/man/man1/gridctl.1)
    grid_check(0 "complete -o default -F _gridctl gridctl" cat ${prefix}/share/bash-completion/completions/gridctl)
    # The installed gridctl finds the installed plug-in (../lib) and its libraries (RUNPATH).
    grid_check(0 "\"directory\": *true" ${prefix}/bin/gridctl --json stat "\\\\gridtest\\share")
    grid_check(0 "SONAME +libGridApi.so.1" objdump -p ${prefix}/lib/libGridApi.so.1)
    grid_check(0 " createFileServices\n" nm -D --defined-only ${prefix}/lib/libGridApi.so.1)
    set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
    grid_check(0 "^${VERSION}\n$" pkg-config --modversion gridapi)
    grid_check(0 "-L${prefix}/lib/pkgconfig/../../lib .*-lGridApi" pkg-config --libs gridapi)
endif()
