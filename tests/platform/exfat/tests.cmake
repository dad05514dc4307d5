# exFAT fixture images (mkfs.exfat, filled through exfat-fuse) are built once and kept
# in the build tree, so later test processes and runs copy them instead.
target_compile_definitions(vexa_tests PRIVATE VEXA_EXFAT_FIXTURE_DIR="${CMAKE_BINARY_DIR}/exfat_fixtures")

# The exFAT image fuzzer, built with clang apart from the main build and run for a fixed
# time on a seed corpus made at test time (skipped when clang or mkfs.exfat is missing).
if(NOT WIN32)
  add_test(NAME exfat_image_fuzzer
           COMMAND sh ${CMAKE_SOURCE_DIR}/fuzz/exfat/run_exfat_fuzzer.sh ${CMAKE_SOURCE_DIR}
                   ${CMAKE_BINARY_DIR}/fuzz/exfat 20)
  set_tests_properties(exfat_image_fuzzer PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS "fuzz;slow")
endif()

# Whole vexa jobs on exFAT images filled through exfat-fuse (exit 77, skipped, without
# the tools, loop devices or FUSE).
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND NOT WIN32)
  foreach(group analyze defrag kill perfile)
    add_test(NAME exfat.jobs.${group}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/exfat_jobs_test.py --stage ${VEXA_ENGINE_DIR} ${group})
    set_tests_properties(exfat.jobs.${group} PROPERTIES SKIP_RETURN_CODE 77 LABELS "cli;exfat" TIMEOUT 600)
  endforeach()
endif()
