# DefragShell.exe: bound to vexa\vexa.dll through its import table, pictures decoded
# with a libjpeg built for this target by tools/libjpeg-cross (once per build tree).
set(VEXA_LIBJPEG_PREFIX ${CMAKE_BINARY_DIR}/libjpeg)
if(NOT EXISTS ${VEXA_LIBJPEG_PREFIX}/lib/libjpeg.a)
  message(STATUS "Building libjpeg for ${CMAKE_SYSTEM_PROCESSOR} (tools/libjpeg-cross)")
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/tools/libjpeg-cross ${CMAKE_TOOLCHAIN_FILE} ${VEXA_LIBJPEG_PREFIX}
    RESULT_VARIABLE libjpegResult)
  if(NOT libjpegResult EQUAL 0)
    message(FATAL_ERROR "tools/libjpeg-cross failed; run tools/setup first")
  endif()
endif()
add_library(shell_libjpeg STATIC IMPORTED)
set_target_properties(shell_libjpeg PROPERTIES
  IMPORTED_LOCATION ${VEXA_LIBJPEG_PREFIX}/lib/libjpeg.a
  INTERFACE_INCLUDE_DIRECTORIES ${VEXA_LIBJPEG_PREFIX}/include)

# An import library that names the engine as "vexa\vexa.dll": the loader looks for that
# relative path beside the program, so the engine is found in the program's own vexa
# folder whatever the current folder is. 32-bit symbols keep their @N decoration.
# dlltool reads escapes in the name, so its backslash is doubled.
set(shellDef ${CMAKE_CURRENT_BINARY_DIR}/vexa_in_folder.def)
file(READ ${PROJECT_SOURCE_DIR}/engine/core/vexa.def vexaDef)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  string(REGEX REPLACE "@[0-9]+" "" vexaDef "${vexaDef}")
  set(dlltoolMachine i386:x86-64)
else()
  set(dlltoolMachine i386)
endif()
file(CONFIGURE OUTPUT ${shellDef} CONTENT "${vexaDef}")
set(shellImport ${CMAKE_CURRENT_BINARY_DIR}/libvexa_in_folder.a)
add_custom_command(OUTPUT ${shellImport}
  COMMAND ${CMAKE_DLLTOOL} -m ${dlltoolMachine} --input-def ${shellDef} --dllname "vexa\\\\vexa.dll" --kill-at
          --output-lib ${shellImport}
  DEPENDS ${shellDef} VERBATIM)
add_custom_target(shell_vexa_import DEPENDS ${shellImport})

file(GLOB SHELL_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*.cpp)
add_executable(DefragShell WIN32 ${SHELL_WIN32_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/resources/DefragShell.rc)
add_dependencies(DefragShell shell_vexa_import vexa)
target_include_directories(DefragShell PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# The maker's servers: build settings with neutral defaults; a string value "UpdateHost"
# or "HelpHost" under HKEY_LOCAL_MACHINE\Software\Tolvane Disk Defrag overrides each.
# The update server is asked over HTTPS (certificate checked); plain HTTP is used only when
# HTTPS is off or, after a failed HTTPS download, when the fallback is on.
set(VEXA_UPDATE_HOST "update.tolvane.example" CACHE STRING "Host (host[:port]) of the update server")
set(VEXA_HELP_HOST "www.tolvane.example" CACHE STRING "Host (host[:port]) of the web help")
option(VEXA_UPDATE_HTTPS "Fetch Update.ini over HTTPS" ON)
option(VEXA_UPDATE_HTTP_FALLBACK "Fetch Update.ini over plain HTTP when HTTPS fails" OFF)
target_compile_definitions(DefragShell PRIVATE NOMINMAX VEXA_VERSION="${PROJECT_VERSION}"
  VEXA_UPDATE_HOST="${VEXA_UPDATE_HOST}" VEXA_HELP_HOST="${VEXA_HELP_HOST}"
  VEXA_UPDATE_HTTPS=$<BOOL:${VEXA_UPDATE_HTTPS}> VEXA_UPDATE_HTTP_FALLBACK=$<BOOL:${VEXA_UPDATE_HTTP_FALLBACK}>)
target_link_libraries(DefragShell PRIVATE defragshell_model vexa_platform shell_libjpeg ${shellImport}
                      comctl32 gdi32 user32 advapi32 shell32 wininet)
set_target_properties(DefragShell PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VEXA_STAGE_DIR})

# The user's guide: HTML pages compiled to "Tolvane Disk Defrag.chm" beside the program
# with chmcmd (Debian's fp-utils); without a compiler the pages are staged as help\,
# which the Help button opens instead.
set(helpSource ${PROJECT_SOURCE_DIR}/shell/help)
file(GLOB helpPages CONFIGURE_DEPENDS ${helpSource}/*)
find_program(VEXA_CHMCMD chmcmd)
if(VEXA_CHMCMD)
  set(helpWork ${CMAKE_CURRENT_BINARY_DIR}/help)
  add_custom_command(OUTPUT "${VEXA_STAGE_DIR}/Tolvane Disk Defrag.chm"
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${helpWork}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${helpSource} ${helpWork}
    COMMAND ${CMAKE_COMMAND} -E chdir ${helpWork} ${VEXA_CHMCMD} --no-html-scan help.hhp > chmcmd.log
    COMMAND ${CMAKE_COMMAND} -E copy "${helpWork}/Tolvane Disk Defrag.chm" "${VEXA_STAGE_DIR}/Tolvane Disk Defrag.chm"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DEPENDS ${helpPages} VERBATIM)
  add_custom_target(shell_help ALL DEPENDS "${VEXA_STAGE_DIR}/Tolvane Disk Defrag.chm")
else()
  add_custom_target(shell_help ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${helpSource} ${VEXA_STAGE_DIR}/help VERBATIM)
endif()
