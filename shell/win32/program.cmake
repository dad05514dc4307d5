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
target_compile_definitions(DefragShell PRIVATE NOMINMAX)
target_link_libraries(DefragShell PRIVATE defragshell_model vexa_platform shell_libjpeg ${shellImport}
                      comctl32 gdi32 user32 advapi32)
set_target_properties(DefragShell PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VEXA_STAGE_DIR})
