# Defragmentation benchmarks: the free-run index build and the per-file cost of relocation.
find_package(benchmark REQUIRED)
add_executable(defrag_bench ${CMAKE_CURRENT_LIST_DIR}/defrag_bench.cpp)
target_link_libraries(defrag_bench PRIVATE vexa_engine benchmark::benchmark)
