# The Windows Installer package under Wine, in a fresh prefix: a silent install with the default
# features, what it installs and registers (the event source's message file: the installed DLL), an
# upgrade by a higher version, a refused downgrade, a second install and a repair, optional features,
# and an uninstall that leaves no file, registry value or PATH entry behind.
#   cmake -DBUILD=<windows build> -DSOURCE=<source dir> -DWORK=<scratch dir> -DVERSION=<x.y.z>
#         -DEVENT_SOURCE=<name> -P msi.cmake
include(${CMAKE_CURRENT_LIST_DIR}/Check.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# This version's package and one of the next patch version, made from the same build.
string(REGEX MATCH "^([0-9]+\\.[0-9]+)\\.([0-9]+)$" ignored ${VERSION})
math(EXPR patch "${CMAKE_MATCH_2} + 1")
set(NEXT ${CMAKE_MATCH_1}.${patch})
foreach(version ${VERSION} ${NEXT})
    grid_check(0 "" ${CMAKE_COMMAND} -DBUILD=${BUILD} -DVERSION=${version} "-DEVENT_SOURCE=${EVENT_SOURCE}"
               -DOUTPUT=${WORK}/GridApi-${version}-x64.msi -P ${SOURCE}/cmake/GridMsi.cmake)
endforeach()
grid_check(0 "ProductVersion\t${VERSION}\r?\n" msiinfo export ${WORK}/GridApi-${VERSION}-x64.msi Property)
grid_check(0 "NOT WIX_DOWNGRADE_DETECTED\tA newer version of GridApi is already installed"
           msiinfo export ${WORK}/GridApi-${VERSION}-x64.msi LaunchCondition)

set(prefix ${WORK}/wineprefix)
grid_check(0 "" sh ${SOURCE}/cmake/wine-prefix.sh ${prefix} ${WORK}/unc)
set(RUN sh ${SOURCE}/cmake/wine-run.sh ${prefix})
set(dir "${prefix}/drive_c/Program Files/GridApi")
set(gridctl "C:\\Program Files\\GridApi\\bin\\gridctl.exe")
set(sourceKey "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\${EVENT_SOURCE}")
set(environment "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment")
set(products "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")
function(msiexec expected_exit)
    grid_check(${expected_exit} "" ${RUN} msiexec ${ARGN} /qn)
endfunction()
function(package version)
    string(REPLACE "/" "\\" native "Z:${WORK}/GridApi-${version}-x64.msi")
    set(package "${native}" PARENT_SCOPE)
endfunction()
# The installed products named GridApi: exactly one, of this version.
function(expect_product version)
    grid_check(0 "" ${RUN} reg query ${products} /s)
    string(REGEX MATCHALL "DisplayName +REG_SZ +GridApi [^\r\n]*" names "${GRID_CHECK_OUTPUT}")
    if(NOT names STREQUAL "DisplayName    REG_SZ    GridApi ${version}" OR
       NOT GRID_CHECK_OUTPUT MATCHES "DisplayVersion +REG_SZ +${version}" OR
       NOT GRID_CHECK_OUTPUT MATCHES "Publisher +REG_SZ +GridApi")
        message(FATAL_ERROR "installed products: expected one GridApi ${version}, found: ${names}")
    endif()
endfunction()
function(expect_files present absent)
    foreach(file IN LISTS present)
        if(NOT EXISTS "${dir}/${file}")
            message(FATAL_ERROR "not installed: ${file}")
        endif()
    endforeach()
    foreach(file IN LISTS absent)
        if(EXISTS "${dir}/${file}")
            message(FATAL_ERROR "installed, but its feature was not chosen: ${file}")
        endif()
    endforeach()
endfunction()

# The default features: the library, the host library, gridctl and the documents; neither the
# development files nor the PATH entry.
package(${VERSION})
msiexec(0 /i ${package})
expect_files("bin/GridApi.dll;bin/StravoHost.dll;bin/gridctl.exe;share/doc/GridApi/README.md;licences/README.txt"
             "include/GridApi/GridFileServices.h;lib/cmake/GridApi/GridApiConfig.cmake")
expect_product(${VERSION})
grid_check(0 "EventMessageFile +REG_EXPAND_SZ +C:\\\\Program Files\\\\GridApi\\\\bin\\\\GridApi.dll.*TypesSupported +REG_DWORD +0x7"
           ${RUN} reg query ${sourceKey})
grid_check(0 "is registered\r?\n  EventMessageFile: C:\\\\Program Files\\\\GridApi\\\\bin\\\\GridApi.dll\r?\n  TypesSupported: +7"
           ${RUN} ${gridctl} event-source status)
grid_check(0 "^gridctl ${VERSION} \\(GridApi ${VERSION}\\)" ${RUN} ${gridctl} --version)
grid_check(0 "" ${RUN} reg query ${environment} /v PATH)
if(GRID_CHECK_OUTPUT MATCHES "GridApi")
    message(FATAL_ERROR "PATH names GridApi without its feature: ${GRID_CHECK_OUTPUT}")
endif()

# A higher version replaces this one; this one is then refused over it (1603; Wine's exit status
# keeps its low byte, 67).
package(${NEXT})
msiexec(0 /i ${package})
expect_product(${NEXT})
package(${VERSION})
execute_process(COMMAND ${RUN} msiexec /i ${package} /qn RESULT_VARIABLE rc)
if(NOT rc MATCHES "^(1603|67)$")
    message(FATAL_ERROR "installing ${VERSION} over ${NEXT}: exit ${rc}, expected 1603 (the newer version refuses it)")
endif()
expect_product(${NEXT})

# The same version again is the same product, and a repair puts back a lost file.
package(${NEXT})
msiexec(0 /i ${package})
expect_product(${NEXT})
file(REMOVE "${dir}/bin/gridctl.exe")
msiexec(0 /i ${package} REINSTALL=ALL REINSTALLMODE=omus)
expect_files("bin/gridctl.exe" "")

# The optional features, added to the installed product.
msiexec(0 /i ${package} ADDLOCAL=ToolsOnPath,Development)
expect_files("include/GridApi/GridFileServices.h;include/StravoHost/FileServicesIf.h;lib/cmake/GridApi/GridApiConfig.cmake" "")
grid_check(0 "PATH +REG_EXPAND_SZ +[^\r\n]*;C:\\\\Program Files\\\\GridApi\\\\bin\\\\?\r?\n" ${RUN} reg query ${environment} /v PATH)

# Uninstall: no file, no registration, no PATH entry, no product. (Wine leaves the emptied parent
# folders; Windows removes the folders it made.)
msiexec(0 /x ${package})
file(GLOB_RECURSE left "${dir}/*")
if(left)
    message(FATAL_ERROR "left after uninstall: ${left}")
endif()
grid_check(1 "" ${RUN} reg query ${sourceKey})
grid_check(1 "" ${RUN} reg query "HKLM\\Software\\GridApi")
grid_check(0 "" ${RUN} reg query ${environment} /v PATH)
if(GRID_CHECK_OUTPUT MATCHES "GridApi")
    message(FATAL_ERROR "PATH still names GridApi after uninstall: ${GRID_CHECK_OUTPUT}")
endif()
grid_check(0 "" ${RUN} reg query ${products} /s)
if(GRID_CHECK_OUTPUT MATCHES "GridApi")
    message(FATAL_ERROR "GridApi is still an installed product after uninstall")
endif()
