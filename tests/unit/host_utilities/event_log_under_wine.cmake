# Runs the event-log rows' test of host_utilities_tests under wine64 with the
# emulator's trace of the event-log API switched on, and checks what
# ReportEventA received for each event, in order: type, category, event
# identifier, string count and data size (from the advapi fixme line), and
# the string, on the eventlog channel of the class that matches the type.
#   cmake -DWINE=... -DPROGRAM=... -P event_log_under_wine.cmake
set(ENV{WINEDEBUG} "-all,fixme+advapi,+eventlog")
execute_process(
  COMMAND ${WINE} ${PROGRAM} --gtest_filter=TaskTest.EventRowsReportTheirLevelAsTypeAndTheirText
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the test failed (${rc}):\n${out}\n${err}")
endif()

# type (as printed) | class of the eventlog channel's line | string
set(expected
  "0x0001|err|Operator message"
  "0x0000|trace|Level -5"
  "0x0002|warn|Level 2"
  "0x0002|warn|Level 7"
  "0x0002|warn|Table level 65535"
  "0x0001|err|Table level 1")
set(rest "${err}")
foreach(event IN LISTS expected)
  string(REGEX MATCH "^([^|]*)\\|([^|]*)\\|(.*)$" _ "${event}")
  set(type "${CMAKE_MATCH_1}")
  set(class "${CMAKE_MATCH_2}")
  set(text "${CMAKE_MATCH_3}")
  set(call "fixme:advapi:ReportEventA \\([0-9A-Fa-f]+,${type},0x0000,0x40000007,0+,0x0001,0x00000000,")
  string(REGEX MATCH "${call}[^\n]*\n" line "${rest}")
  if(line STREQUAL "")
    message(FATAL_ERROR "no ReportEventA call with type ${type}, category 0, identifier 0x40000007, one string and no data for \"${text}\" in:\n${rest}")
  endif()
  string(FIND "${rest}" "${line}" at)
  string(SUBSTRING "${rest}" ${at} -1 rest)
  string(REGEX MATCH "^${call}[^\n]*\n([^\n]*\n)?[^\n]*:${class}:eventlog:ReportEventW L\"([^\"]*)\"" match "${rest}")
  if(NOT CMAKE_MATCH_2 STREQUAL "${text}")
    message(FATAL_ERROR "the event after \"${line}\" should carry \"${text}\" on the ${class} class, in:\n${rest}")
  endif()
  string(LENGTH "${line}" n)
  string(SUBSTRING "${rest}" ${n} -1 rest)
endforeach()
message(STATUS "six events reached ReportEventA with their types and strings")
