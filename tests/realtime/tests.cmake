# The real-time defragmenter's rules (realtime/model/) are compiled into vexa_tests;
# VEXAAUTO.exe itself runs under wine64 in realtime.wine (realtime_wine_test.py
# --shots ${CMAKE_BINARY_DIR}/screenshots), which
# needs a win64 build's stage folder like cli.wine (VEXA_WIN64_STAGE).
file(GLOB REALTIME_MODEL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/realtime/model/*.cpp)
target_sources(vexa_tests PRIVATE ${REALTIME_MODEL_SOURCES})
target_include_directories(vexa_tests PRIVATE ${PROJECT_SOURCE_DIR}/realtime/model)

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  # The win64 stage: the cache variable VEXA_WIN64_STAGE (tests/cli/tests.cmake), or the
  # environment variable of the same name when ctest runs.
  set(VEXA_WIN64_STAGE "" CACHE PATH "stage/vexa folder of a win64 build, for the wine tests")
  if(VEXA_WIN64_STAGE)
    add_test(NAME realtime.wine COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/realtime_wine_test.py
             --win-stage ${VEXA_WIN64_STAGE} --shots ${CMAKE_BINARY_DIR}/screenshots)
  else()
    add_test(NAME realtime.wine COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/realtime_wine_test.py
             --shots ${CMAKE_BINARY_DIR}/screenshots)
  endif()
  set_tests_properties(realtime.wine PROPERTIES SKIP_RETURN_CODE 77 LABELS "realtime;wine" TIMEOUT 900
                       RESOURCE_LOCK wine)
endif()
