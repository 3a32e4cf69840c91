# Gaps in a step's tone (dropouts.sh): step_player plays a step or writes its frames, gap_count
# finds the gaps in a recording of them.
add_library(gap_counter STATIC gap_counter.cpp)
target_include_directories(gap_counter PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
add_executable(gap_count gap_count.cpp)
target_link_libraries(gap_count PRIVATE gap_counter)
add_executable(step_player step_player.cpp)
target_link_libraries(step_player PRIVATE synth)
