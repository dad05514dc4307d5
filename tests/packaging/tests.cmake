# The packages: the Debian package built from this build, checked with lintian and used
# from a scratch root (deb_test.py); the Windows installer is tested by the win64 steps.
find_package(Python3 COMPONENTS Interpreter)
# Sanitizer builds are not what ships; the package is tested from the plain build only.
if(Python3_Interpreter_FOUND AND NOT WIN32 AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  add_test(NAME packaging.deb
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/deb_test.py --build-dir ${CMAKE_BINARY_DIR})
  set_tests_properties(packaging.deb PROPERTIES SKIP_RETURN_CODE 77 LABELS "packaging;slow" TIMEOUT 1200)
endif()
