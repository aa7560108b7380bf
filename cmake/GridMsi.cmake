# The Windows Installer package of an installed windows build, made with wixl:
#   cmake -DBUILD=<windows build> -DVERSION=<x.y.z> -DEVENT_SOURCE=<name> -DOUTPUT=<GridApi-x.y.z-x64.msi>
#         [-DSTAGE=<scratch dir>] [-DWIXL=<wixl>] [-DMSIBUILD=<msibuild>] [-DSUMMARY=<text>] -P GridMsi.cmake
# Installs each install component into <STAGE>/<component> (default <OUTPUT>.stage) and writes
# <STAGE>/GridApi.wxs from
# resources/installer/GridApi.wxs.in: one Windows Installer component per file, in the folders the
# ZIP has, grouped into the package's features. A later VERSION replaces an earlier one (same upgrade
# code); the product code is derived from the version, so that installing one version twice repairs
# it instead of adding a second product.
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD VERSION EVENT_SOURCE OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "GridMsi.cmake: ${var} is not set")
    endif()
endforeach()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "GridMsi.cmake: VERSION \"${VERSION}\" is not major.minor.patch")
endif()
if(NOT WIXL)
    find_program(WIXL wixl REQUIRED)
endif()
if(NOT DEFINED SUMMARY)
    set(SUMMARY "Storage access plug-in: Win32 file operations on network shares with retry rules")
endif()

# The namespace of the GUIDs derived here (component codes by installed path, product code by version).
set(namespace 8BEE1F1E-C95B-4AED-99F5-1A71D3CBF580)
set(MSI_UPGRADE_CODE 826C8FD1-9041-4AC3-BB1E-B2D05458F126)
set(MSI_VERSION ${VERSION})
set(MSI_EVENT_SOURCE ${EVENT_SOURCE})
set(MSI_SUMMARY ${SUMMARY})
string(UUID MSI_PRODUCT_CODE NAMESPACE ${namespace} NAME "product ${VERSION}" TYPE SHA1 UPPER)
string(UUID MSI_EVENT_SOURCE_GUID NAMESPACE ${namespace} NAME "registry event source" TYPE SHA1 UPPER)
string(UUID MSI_PATH_GUID NAMESPACE ${namespace} NAME "environment PATH" TYPE SHA1 UPPER)

# Install component -> feature; the host component's headers belong to the development files.
set(stage ${OUTPUT}.stage)
if(STAGE)
    set(stage ${STAGE})
endif()
file(REMOVE_RECURSE ${stage})
set(features Runtime Host Tools Development Documentation)
foreach(feature IN LISTS features)
    set(MSI_FEATURE_${feature} "")
endforeach()
set(dirs "")
foreach(entry runtime:Runtime host:Host tools:Tools development:Development docs:Documentation)
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 component)
    list(GET entry 1 feature)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --component ${component} --prefix ${stage}/${component}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB_RECURSE files RELATIVE ${stage}/${component} ${stage}/${component}/*)
    list(SORT files)
    foreach(file IN LISTS files)
        set(into ${feature})
        if(component STREQUAL "host" AND file MATCHES "^include/")
            set(into Development)
        endif()
        string(MD5 key "${file}")
        string(SUBSTRING ${key} 0 16 key)
        get_filename_component(dir ${file} DIRECTORY)
        get_filename_component(name ${file} NAME)
        list(APPEND dirs ${dir})
        string(UUID guid NAMESPACE ${namespace} NAME "file ${file}" TYPE SHA1 UPPER)
        string(APPEND components_${dir}
               "<Component Id=\"c${key}\" Guid=\"${guid}\" Win64=\"yes\"><File Id=\"f${key}\" Name=\"${name}\" "
               "Source=\"${component}/${file}\" KeyPath=\"yes\"/></Component>\n")
        string(APPEND MSI_FEATURE_${into} "      <ComponentRef Id=\"c${key}\"/>\n")
        if(file STREQUAL "bin/GridApi.dll")
            set(MSI_RUNTIME_FILE f${key})
        endif()
        if(file MATCHES "^(.*)/gridctl\\.exe$")
            set(tools_dir ${CMAKE_MATCH_1})
        endif()
    endforeach()
endforeach()
if(NOT MSI_RUNTIME_FILE OR NOT tools_dir)
    message(FATAL_ERROR "GridMsi.cmake: ${BUILD} installs no bin/GridApi.dll or no gridctl.exe")
endif()

# Every folder with its parents, as nested Directory elements.
set(all_dirs "")
foreach(dir IN LISTS dirs)
    while(dir)
        list(APPEND all_dirs ${dir})
        get_filename_component(dir ${dir} DIRECTORY)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES all_dirs)
function(grid_msi_dir_id dir out)
    string(MD5 key "dir ${dir}")
    string(SUBSTRING ${key} 0 16 key)
    set(${out} d${key} PARENT_SCOPE)
endfunction()
function(grid_msi_directories parent indent out)
    set(xml "")
    foreach(dir IN LISTS all_dirs)
        get_filename_component(up ${dir} DIRECTORY)
        if(up STREQUAL parent)
            get_filename_component(name ${dir} NAME)
            grid_msi_dir_id(${dir} id)
            grid_msi_directories(${dir} "${indent}  " inner)
            string(REPLACE "\n<" "\n${indent}  <" files "\n${components_${dir}}")
            string(STRIP "${files}" files)
            string(APPEND xml "${indent}<Directory Id=\"${id}\" Name=\"${name}\">\n")
            if(files)
                string(APPEND xml "${indent}  ${files}\n")
            endif()
            string(APPEND xml "${inner}${indent}</Directory>\n")
        endif()
    endforeach()
    set(${out} "${xml}" PARENT_SCOPE)
endfunction()
list(SORT all_dirs)
grid_msi_directories("" "          " MSI_DIRECTORIES)
grid_msi_dir_id(bin MSI_RUNTIME_DIR)
grid_msi_dir_id(${tools_dir} MSI_TOOLS_DIR)

configure_file(${CMAKE_CURRENT_LIST_DIR}/../resources/installer/GridApi.wxs.in ${stage}/GridApi.wxs @ONLY)
execute_process(COMMAND ${WIXL} --arch x64 -o ${OUTPUT} ${stage}/GridApi.wxs WORKING_DIRECTORY ${stage} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "GridMsi.cmake: wixl failed (${rc}) on ${stage}/GridApi.wxs")
endif()

# What wixl cannot write is added with msibuild: the ToolsOnPath feature's PATH entry (no
# Environment table), the message file's value type and the removal of the source's key.
# "=-*PATH": set at install, removed at uninstall, the system's variable; "[~];" appends to it.
if(NOT MSIBUILD)
    find_program(MSIBUILD msibuild REQUIRED)
endif()
set(idt ${stage}/Environment.idt)
file(WRITE ${idt} "Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\n"
                  "PathEntry\t=-*PATH\t[~];[${MSI_TOOLS_DIR}]\tToolsOnPath\n")
execute_process(COMMAND ${MSIBUILD} ${OUTPUT} -i ${idt}
                -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
                -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)"
                # The message file's value as REG_EXPAND_SZ ("#%"), and the source's key removed on uninstall ("-").
                -q "UPDATE `Registry` SET `Value` = '#%[#${MSI_RUNTIME_FILE}]' WHERE `Name` = 'EventMessageFile'"
                -q "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSourceKey', 2, 'SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\${EVENT_SOURCE}', '-', 'EventSource')"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "GridMsi.cmake: msibuild failed (${rc}) adding the PATH entry to ${OUTPUT}")
endif()
