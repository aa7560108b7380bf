# GoogleTest from Debian's sources, built for the target, and grid_add_gtest() to declare a test program:
#   grid_add_gtest(NAME <target> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [PREFIX <prefix>])
# (PREFIX goes before each discovered test's name, for programs that share test names with another.)
# Every test gets the build's share tree: on Linux GRIDAPI_UNC_ROOT points at <build>/unc; on Windows the
# private Wine prefix maps \\server\share onto the same folder. The share \\gridtest\share always exists.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
enable_testing()

set(GRID_UNC_DIR ${CMAKE_BINARY_DIR}/unc)
file(MAKE_DIRECTORY ${GRID_UNC_DIR}/gridtest/share)
# One variable only: gtest_discover_tests splits a list-valued ENVIRONMENT into separate properties.
set(GRID_TEST_ENV "GRIDAPI_UNC_ROOT=${GRID_UNC_DIR}")

if(WIN32)
    set(GRID_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${GRID_WINEPREFIX})
    add_custom_command(OUTPUT ${GRID_WINEPREFIX}/system.reg
        COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh ${GRID_WINEPREFIX} ${GRID_UNC_DIR}
        COMMENT "Creating the private Wine prefix")
    add_custom_target(grid_wineprefix ALL DEPENDS ${GRID_WINEPREFIX}/system.reg)
endif()

function(grid_add_gtest)
    cmake_parse_arguments(T "" "NAME;PREFIX" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    if(WIN32)
        add_dependencies(${T_NAME} grid_wineprefix)
    endif()
    gtest_discover_tests(${T_NAME}
        TEST_PREFIX "${T_PREFIX}"
        DISCOVERY_TIMEOUT 120
        PROPERTIES ENVIRONMENT "${GRID_TEST_ENV}")
    # Labels go on the directory: gtest_discover_tests would split a list of labels apart.
    set_property(DIRECTORY APPEND PROPERTY LABELS ${T_LABELS})
endfunction()
