# The FAT provider's tests as a binary of their own (also part of vexa_tests), so the
# provider can be built and checked alone: cmake --build <dir> --target vexa_fat_tests
file(GLOB VEXA_FAT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
add_executable(vexa_fat_tests EXCLUDE_FROM_ALL ${VEXA_FAT_TEST_SOURCES})
target_include_directories(vexa_fat_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(vexa_fat_tests PRIVATE vexa_platform GTest::gtest GTest::gtest_main)

# The FAT image fuzzer, built with clang apart from the main build and run for a fixed
# time on a seed corpus made at test time (skipped when clang or the tools are missing).
if(NOT WIN32)
  add_test(NAME fat_image_fuzzer
           COMMAND sh ${CMAKE_SOURCE_DIR}/fuzz/fat/run_fat_fuzzer.sh ${CMAKE_SOURCE_DIR}
                   ${CMAKE_BINARY_DIR}/fuzz/fat 20)
  set_tests_properties(fat_image_fuzzer PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS "fuzz;slow")
endif()

# The naming rules of new folder entries are tested on their own, through the
# provider's private header (platform/fat/short_alias.h).
target_include_directories(vexa_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_include_directories(vexa_fat_tests PRIVATE ${CMAKE_SOURCE_DIR})
