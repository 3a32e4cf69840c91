# The component's suite: TComponent, TToneGen with its volume handling and playback, the stored
# form and note names. Playback runs into SDL's dummy or disk driver only.
add_executable(tonegen_component_tests
  ${CMAKE_CURRENT_LIST_DIR}/component_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tone_gen_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tone_gen_playback_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stored_form_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/note_names_test.cpp
)
target_link_libraries(tonegen_component_tests PRIVATE tonegen_testing test_support GTest::gtest_main)
target_compile_definitions(tonegen_component_tests PRIVATE
  ZELKGEN_TONE_GEN1_FORM="${PROJECT_SOURCE_DIR}/app/tone_gen1_form.txt")
gtest_discover_tests(tonegen_component_tests DISCOVERY_TIMEOUT 30)
