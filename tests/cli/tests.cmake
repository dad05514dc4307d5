# End-to-end tests of the vexa program: it runs from a private copy of the stage folder
# on FAT images made by mkfs.fat and mtools (exit 77, skipped, when a tool is missing).
#
# cli.wine runs the win64 build's vexa.exe under wine64. It needs that build's stage
# folder: the cache variable VEXA_WIN64_STAGE, or the environment variable of the same
# name when ctest runs; without either (or without vexa.exe there) it is skipped.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  set(VEXA_CLI_TEST ${CMAKE_CURRENT_LIST_DIR}/cli_test.py)
  foreach(group usage edges errors map analyze defrag optimize small-volumes json stop-analysis stop-defrag stop-in-depth
                left-fragmented volume-state)
    add_test(NAME cli.${group}
      COMMAND ${Python3_EXECUTABLE} ${VEXA_CLI_TEST} --stage ${VEXA_ENGINE_DIR} ${group})
    set_tests_properties(cli.${group} PROPERTIES SKIP_RETURN_CODE 77 LABELS cli TIMEOUT 600)
  endforeach()
  # Twenty rounds of two processes on one image, then two jobs on two images at once.
  add_test(NAME cli.two-processes
    COMMAND ${Python3_EXECUTABLE} ${VEXA_CLI_TEST} --stage ${VEXA_ENGINE_DIR} two-processes)
  set_tests_properties(cli.two-processes PROPERTIES SKIP_RETURN_CODE 77 LABELS "cli;slow" TIMEOUT 600)
  # vexa killed with SIGKILL at random instants of a defragmentation.
  add_test(NAME cli.kill COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/kill_test.py --stage ${VEXA_ENGINE_DIR})
  set_tests_properties(cli.kill PROPERTIES SKIP_RETURN_CODE 77 LABELS "cli;slow" TIMEOUT 600)
  add_test(NAME cli.demo COMMAND ${Python3_EXECUTABLE} ${VEXA_CLI_TEST} --stage ${VEXA_ENGINE_DIR} demo)
  set_tests_properties(cli.demo PROPERTIES SKIP_RETURN_CODE 77 LABELS "cli;slow" TIMEOUT 1200)
  if(NOT WIN32)
    # A slow memory card (tests/support/slow_card.c), preloaded into vexa by the groups
    # whose jobs must last long enough to show progress and to be stopped or killed while
    # they run.
    add_library(vexa_slow_card MODULE ${PROJECT_SOURCE_DIR}/tests/support/slow_card.c)
    target_link_libraries(vexa_slow_card PRIVATE ${CMAKE_DL_LIBS})
    foreach(test cli.defrag cli.json cli.kill cli.optimize cli.stop-analysis cli.stop-defrag cli.stop-in-depth
                 cli.two-processes)
      set_tests_properties(${test} PROPERTIES ENVIRONMENT "VEXA_TEST_SLOW_CARD=$<TARGET_FILE:vexa_slow_card>")
    endforeach()
  endif()

  # vexa options and vexa schedule (against a crontab on PATH that keeps its table in a file).
  foreach(group options schedule)
    add_test(NAME cli.settings-${group}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/settings_test.py --stage ${VEXA_ENGINE_DIR} ${group})
    set_tests_properties(cli.settings-${group} PROPERTIES SKIP_RETURN_CODE 77 LABELS cli TIMEOUT 600)
  endforeach()
  # check, contig and put, end to end (per_file_test.py); the kill rounds copy large files.
  foreach(group check contig put kill finishing-pass)
    add_test(NAME cli.per-file-${group}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/per_file_test.py --stage ${VEXA_ENGINE_DIR} ${group})
    set_tests_properties(cli.per-file-${group} PROPERTIES SKIP_RETURN_CODE 77 LABELS cli TIMEOUT 600)
  endforeach()
  set_tests_properties(cli.per-file-kill PROPERTIES LABELS "cli;slow")
  # Names beyond ASCII on FAT (mtools) and exFAT (exfat-fuse, root) images.
  foreach(group fat exfat)
    add_test(NAME cli.names-${group}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/names_test.py --stage ${VEXA_ENGINE_DIR} ${group})
    set_tests_properties(cli.names-${group} PROPERTIES SKIP_RETURN_CODE 77 LABELS cli TIMEOUT 600)
  endforeach()

  # The bash completion the Debian package installs.
  add_test(NAME cli.completion COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/completion_test.py
    ${PROJECT_SOURCE_DIR}/packaging/linux/vexa.bash-completion)
  set_tests_properties(cli.completion PROPERTIES SKIP_RETURN_CODE 77 LABELS cli)

  # One volume by two paths (an image, its loop devices, a partition of it) and images
  # attached or mounted elsewhere, on real loop devices and mounts (root; else skipped).
  if(NOT WIN32)
    foreach(group fat exfat)
      add_test(NAME cli.volume-alias-${group}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/volume_alias_test.py --stage ${VEXA_ENGINE_DIR} ${group})
      set_tests_properties(cli.volume-alias-${group} PROPERTIES SKIP_RETURN_CODE 77 LABELS cli TIMEOUT 600
        ENVIRONMENT "VEXA_TEST_SLOW_CARD=$<TARGET_FILE:vexa_slow_card>")
    endforeach()
  endif()

  set(VEXA_WIN64_STAGE "" CACHE PATH "stage/vexa folder of a win64 build, for the cli.wine test")
  if(VEXA_WIN64_STAGE)
    add_test(NAME cli.wine COMMAND ${Python3_EXECUTABLE} ${VEXA_CLI_TEST} --win-stage ${VEXA_WIN64_STAGE} wine)
  else()
    add_test(NAME cli.wine COMMAND ${Python3_EXECUTABLE} ${VEXA_CLI_TEST} wine)
  endif()
  set_tests_properties(cli.wine PROPERTIES SKIP_RETURN_CODE 77 LABELS "cli;wine" TIMEOUT 1200 RESOURCE_LOCK wine)
endif()

# The program's own logic (status texts, status line, command line, page reading, JSON
# texts, lost-space lines) is tested in vexa_tests, which compiles those units of cli/ for the purpose.
target_sources(vexa_tests PRIVATE
  ${PROJECT_SOURCE_DIR}/cli/status_texts.cpp
  ${PROJECT_SOURCE_DIR}/cli/progress_display.cpp
  ${PROJECT_SOURCE_DIR}/cli/command_line.cpp
  ${PROJECT_SOURCE_DIR}/cli/report_pages.cpp
  ${PROJECT_SOURCE_DIR}/cli/json_text.cpp
  ${PROJECT_SOURCE_DIR}/cli/cluster_map_text.cpp
  ${PROJECT_SOURCE_DIR}/cli/working_folder.cpp
  ${PROJECT_SOURCE_DIR}/cli/volume_state.cpp)
target_include_directories(vexa_tests PRIVATE ${PROJECT_SOURCE_DIR}/cli)
target_compile_definitions(vexa_tests PRIVATE VEXA_INSTALL_ENGINE_DIR="${VEXA_INSTALL_ENGINE_DIR}")
