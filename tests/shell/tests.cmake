# The shell model's tests run in vexa_tests.
target_link_libraries(vexa_tests PRIVATE defragshell_model)
