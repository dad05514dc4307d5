# The preset-file reader under fuzzing. Under clang a libFuzzer target (preset_fuzz) is
# built for open-ended runs; every build also gets a replay program, run as a test, that
# feeds the same checks a fixed set of generated inputs.
add_executable(preset_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/preset_fuzz.cpp)
target_link_libraries(preset_fuzz_replay PRIVATE vexa_engine)
add_test(NAME preset_fuzz_replay COMMAND preset_fuzz_replay)

if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(preset_fuzz ${CMAKE_CURRENT_LIST_DIR}/preset_fuzz.cpp)
  target_compile_definitions(preset_fuzz PRIVATE VEXA_LIBFUZZER=1)
  target_compile_options(preset_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(preset_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(preset_fuzz PRIVATE vexa_engine)
endif()
