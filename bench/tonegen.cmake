# The tone generator's renderer.
zelkgen_benchmark(render_bench render_bench.cpp)
target_link_libraries(render_bench PRIVATE tonegen)
