# Boost for both builds: the target GridBoost carries Boost's headers; GridBoostFilesystem the
# compiled Boost.Filesystem (Debian's library on Linux, built from Debian's boost1.74 source for
# Windows, since Debian ships no mingw Boost).
add_library(GridBoost INTERFACE)
target_compile_definitions(GridBoost INTERFACE BOOST_ALL_NO_LIB BOOST_BIND_GLOBAL_PLACEHOLDERS)

if(WIN32)
    # Only Boost's own headers: /usr/include as a whole would drag glibc's headers in.
    set(boost_include ${CMAKE_BINARY_DIR}/boost-include)
    file(MAKE_DIRECTORY ${boost_include})
    file(CREATE_LINK /usr/include/boost ${boost_include}/boost SYMBOLIC)
    target_include_directories(GridBoost SYSTEM INTERFACE ${boost_include})

    set(GRID_BOOST_SOURCE_DIR ${PROJECT_SOURCE_DIR}/.deps/boost CACHE PATH "Boost 1.74 source tree (libs/filesystem/src)")
    file(GLOB boost_fs_sources ${GRID_BOOST_SOURCE_DIR}/libs/filesystem/src/*.cpp)
    if(NOT boost_fs_sources)
        message(FATAL_ERROR "Boost.Filesystem sources not found in ${GRID_BOOST_SOURCE_DIR}; run tools/fetch-deps.sh")
    endif()
    add_library(GridBoostFilesystem STATIC ${boost_fs_sources})
    target_compile_definitions(GridBoostFilesystem
        PUBLIC BOOST_FILESYSTEM_STATIC_LINK=1 BOOST_FILESYSTEM_NO_DEPRECATED
        PRIVATE BOOST_FILESYSTEM_SOURCE)
    target_compile_options(GridBoostFilesystem PRIVATE -w)
    target_link_libraries(GridBoostFilesystem PUBLIC GridBoost advapi32)
    set_target_properties(GridBoostFilesystem PROPERTIES POSITION_INDEPENDENT_CODE ON)
else()
    find_package(Boost 1.74 REQUIRED COMPONENTS filesystem system)
    target_link_libraries(GridBoost INTERFACE Boost::headers)
    add_library(GridBoostFilesystem INTERFACE)
    target_link_libraries(GridBoostFilesystem INTERFACE Boost::filesystem GridBoost)
endif()
