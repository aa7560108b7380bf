# Turns messages.txt into a Windows string table (rc), a C++ lookup table for Linux (cpp), a message
# compiler source for the event log's message table (mc), the messages reference (md) or the
# library's header of message ids (h).
#   cmake -DINPUT=messages.txt -DOUTPUT=<file> -DFORMAT=rc|cpp|mc|md|h [-DEVENT_SOURCE=<name>] -P generate-catalogue.cmake
# With -DCHECK=<file> instead of OUTPUT it fails unless <file> holds exactly what would be generated.
file(STRINGS ${INPUT} lines)
set(entries "")
set(events "")
foreach(line IN LISTS lines)
    if(line MATCHES "^#" OR line STREQUAL "")
        continue()
    endif()
    if(line MATCHES "^event ([0-9]+) (.*)$")
        set(event 1)
        set(id ${CMAKE_MATCH_1})
        set(raw "${CMAKE_MATCH_2}")
    elseif(line MATCHES "^([0-9]+) ([a-z]+) (.*)$")
        set(event "")
        set(id ${CMAKE_MATCH_1})
        set(name ${CMAKE_MATCH_2})
        set(raw "${CMAKE_MATCH_3}")
    else()
        message(FATAL_ERROR "bad catalogue line: ${line}")
    endif()
    string(REPLACE "\\" "\\\\" text "${raw}")
    string(REPLACE "\"" "\\\"" text "${text}")
    if(FORMAT STREQUAL "mc")
        # Message-compiler inserts are numbered: the n-th %s becomes %n.
        set(n 1)
        set(numbered "${raw}")
        string(FIND "${numbered}" "%s" at)
        while(at GREATER -1)
            string(SUBSTRING "${numbered}" 0 ${at} head)
            math(EXPR at "${at} + 2")
            string(SUBSTRING "${numbered}" ${at} -1 tail)
            set(numbered "${head}%${n}${tail}")
            math(EXPR n "${n} + 1")
            string(FIND "${numbered}" "%s" at)
        endwhile()
        string(APPEND entries "MessageId=${id}\nSeverity=Success\nFacility=Plain\nLanguage=English\n${numbered}\n.\n\n")
    elseif(FORMAT STREQUAL "md")
        string(REPLACE "|" "\\|" cell "${raw}")
        if(event)
            string(APPEND events "| ${id} | `${cell}` |\n")
        else()
            string(APPEND entries "| ${id} | `${cell}` |\n")
        endif()
    elseif(event)
        continue()
    elseif(FORMAT STREQUAL "h")
        string(APPEND entries "const int ${name} = ${id};  // ${raw}\n")
    elseif(FORMAT STREQUAL "rc")
        string(APPEND entries "    ${id}, \"${text}\"\n")
    else()
        string(APPEND entries "        {${id}u, \"${text}\"},\n")
    endif()
endforeach()
if(FORMAT STREQUAL "h")
    set(content "// Generated from messages.txt: the ids the library logs its lines under.\n#pragma once\n\nnamespace GridApi {\nnamespace messages {\n${entries}}  // namespace messages\n}  // namespace GridApi\n")
elseif(FORMAT STREQUAL "rc")
    set(content "// Generated from messages.txt.\nSTRINGTABLE\nBEGIN\n${entries}END\n")
elseif(FORMAT STREQUAL "mc")
    set(content "; // Generated from messages.txt.\nMessageIdTypedef=DWORD\nSeverityNames=(Success=0x0)\nFacilityNames=(Plain=0x0)\nLanguageNames=(English=0x409:MSG00409)\n\n${entries}")
elseif(FORMAT STREQUAL "md")
    set(content "# Messages: the log catalogue and the event source

Generated from `resources/messages.txt` (the package tests check that the two agree); see `retry.md`
for when each line is written.

## Log lines

The host writes each line with one of these message ids. The first `%s` is the host's facility
name (`GRIDAPI`), the second the line's text. Ids from 16384 up are traces. The catalogue is a
string-table resource of `GridApi.dll` and the function `GridApiMessageText` of `libGridApi.so`.

| Id | Text |
|---|---|
${entries}
## System events

A final failure also writes a system event, of the error type, from the event source
\"${EVENT_SOURCE}\" (Windows: the Application event log; Linux: syslog, with the source as the
ident). On Windows the event's text comes from the message-table resource of `GridApi.dll`, once
the source is registered with `gridctl event-source install` (see `gridctl.md`):

| Event id | Text |
|---|---|
${events}
`%1` is the event's one string, the error record that the 4099 log line also carries.
")
else()
    set(content "// Generated from messages.txt.\n#include <GridApi/Export.h>\n\nnamespace {\nstruct Message {\n    unsigned id;\n    const char* text;\n};\nconst Message catalogue[] = {\n${entries}};\n}  // namespace\n\n// The message catalogue, looked up by the host as it would read a string-table resource.\nextern \"C\" GRIDAPI_API const char* GridApiMessageText(unsigned id) {\n    for (const Message& message : catalogue) {\n        if (message.id == id) return message.text;\n    }\n    return nullptr;\n}\n")
endif()
if(CHECK)
    file(READ ${CHECK} committed)
    if(NOT committed STREQUAL content)
        message(FATAL_ERROR "${CHECK} differs from what ${INPUT} generates; regenerate it with\n"
                            "  cmake -DINPUT=${INPUT} -DOUTPUT=${CHECK} -DFORMAT=${FORMAT} "
                            "\"-DEVENT_SOURCE=${EVENT_SOURCE}\" -P ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    return()
endif()
file(WRITE ${OUTPUT}.tmp "${content}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
