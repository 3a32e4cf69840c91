# The renderer, the export and the sound service.
add_executable(tonegen_render_tests wave_render_test.cpp)
target_link_libraries(tonegen_render_tests PRIVATE tonegen test_support GTest::gtest_main)
gtest_discover_tests(tonegen_render_tests DISCOVERY_TIMEOUT 30)

add_executable(tonegen_export_tests wave_export_test.cpp)
target_link_libraries(tonegen_export_tests PRIVATE tonegen test_support GTest::gtest_main)
gtest_discover_tests(tonegen_export_tests DISCOVERY_TIMEOUT 30)

# Plays through SDL's disk driver, chosen by the test itself before SDL starts.
add_executable(tonegen_sound_service_tests sound_service_test.cpp)
target_link_libraries(tonegen_sound_service_tests PRIVATE tonegen test_support GTest::gtest_main)
gtest_discover_tests(tonegen_sound_service_tests DISCOVERY_TIMEOUT 30)

# The same service against a private PulseAudio daemon (skipped where none can run).
add_executable(tonegen_sound_service_pulse_tests sound_service_pulse_test.cpp)
target_link_libraries(tonegen_sound_service_pulse_tests PRIVATE tonegen test_support
                      GTest::gtest_main)
gtest_discover_tests(tonegen_sound_service_pulse_tests DISCOVERY_TIMEOUT 30)
