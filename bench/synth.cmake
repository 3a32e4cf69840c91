# DDFS: how fast ToneStreamProc fills a device buffer, beside a memcpy of the same bytes.
zelkgen_benchmark(ddfs_bench ddfs_bench.cpp)
target_link_libraries(ddfs_bench PRIVATE synth)
