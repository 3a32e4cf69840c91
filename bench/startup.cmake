# Start-up figures: window_watch times a program from launch to its window, bare_window is the
# yardstick (see startup.sh).
find_package(X11 REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(window_watch window_watch.cpp)
target_link_libraries(window_watch PRIVATE X11::X11)
add_executable(bare_window bare_window.cpp)
target_link_libraries(bare_window PRIVATE Qt6::Widgets)
