# FAT provider benchmark: analysis cost beside fsck.fat, move throughput beside a plain copy.
add_executable(fat_bench ${CMAKE_CURRENT_LIST_DIR}/fat_bench.cpp)
target_link_libraries(fat_bench PRIVATE vexa_platform)
