# Checks DefragShell.exe as built: its import table binds the engine as "vexa\vexa.dll"
# (the engine in the program's own vexa folder) by the plain export names, and its
# manifest asks for elevation.
#   cmake -DPROGRAM=DefragShell.exe -DOBJDUMP=... -P check_shell_binary.cmake
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -p ${PROGRAM} failed")
endif()

# The import directory lists each DLL, then the names imported from it.
string(REGEX MATCH "DLL Name: vexa\\\\vexa\\.dll\n[^\n]*\n(([^\n]+\n)+)" block "${dump}")
set(names "${CMAKE_MATCH_1}")
if(block STREQUAL "")
  message(FATAL_ERROR "the import table does not name vexa\\vexa.dll")
endif()
if(dump MATCHES "DLL Name: vexa\\.dll")
  message(FATAL_ERROR "the engine is also imported from the program's own folder")
endif()
string(REGEX MATCHALL "DLL_[A-Za-z]+[@]?[0-9]*" imported "${names}")
list(LENGTH imported count)
foreach(name IN LISTS imported)
  if(name MATCHES "@")
    message(FATAL_ERROR "import ${name} is decorated; the engine exports plain names")
  endif()
endforeach()
foreach(name DLL_AnalyseVolume DLL_DefragVolume DLL_OptimizedDefragVolume DLL_WorkingStop DLL_GetWorkingStatus
             DLL_GetVolumeColorTable DLL_GetVolumeSectorFilesList DLL_GetVolumeSectorFileInfo DLL_ShowReport
             DLL_GetLogout DLL_GetRestart)
  list(FIND imported ${name} at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${name} is not imported from vexa\\vexa.dll (imports: ${imported})")
  endif()
endforeach()

file(STRINGS ${PROGRAM} elevation REGEX "requestedExecutionLevel[^>]*level=\"requireAdministrator\"")
if(elevation STREQUAL "")
  message(FATAL_ERROR "the manifest does not request requireAdministrator")
endif()
message(STATUS "DefragShell imports ${count} functions from vexa\\vexa.dll and requires elevation")
