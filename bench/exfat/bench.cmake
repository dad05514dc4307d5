# exFAT provider benchmark: move throughput beside a plain copy, analysis beside fsck.exfat.
add_executable(exfat_bench ${CMAKE_CURRENT_LIST_DIR}/exfat_bench.cpp)
target_link_libraries(exfat_bench PRIVATE vexa_platform)
