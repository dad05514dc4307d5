# Report pages in a real browser: a small program writes the pages of two jobs through the
# report API into a copy of the delivered data files, and a script opens the entry pages
# in headless Chromium over the DevTools pipe. Skipped (77) when Chromium is absent.
add_executable(report_page_maker ${CMAKE_CURRENT_LIST_DIR}/report_page_maker.cpp)
target_link_libraries(report_page_maker PRIVATE vexa_engine)

find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME report_pages_in_chromium
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/report_pages_in_chromium.py
      --maker $<TARGET_FILE:report_page_maker>
      --data ${CMAKE_SOURCE_DIR}/data
      --artifacts ${CMAKE_CURRENT_BINARY_DIR}/report_artifacts)
  set_tests_properties(report_pages_in_chromium PROPERTIES
    SKIP_RETURN_CODE 77 TIMEOUT 240 LABELS "browser;slow")
endif()
