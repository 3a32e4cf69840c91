# The component: TToneGen, its framework base, its stored form and note names.
target_sources(tonegen PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/component.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tone_gen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stored_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/note_names.cpp
)

# libFuzzer targets for the note parser and the stored-form reader. The library is instrumented
# for coverage too, and everything that links it then links the sanitizers.
if(ZELKGEN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "ZELKGEN_FUZZ needs clang (CC=clang CXX=clang++); no fuzz targets built")
  else()
    target_compile_options(tonegen PUBLIC -fsanitize=fuzzer-no-link,address,undefined
                                          -fno-omit-frame-pointer)
    target_link_options(tonegen PUBLIC -fsanitize=address,undefined)
    foreach(target note_names_fuzz stored_form_fuzz)
      add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/fuzz/${target}.cpp)
      target_link_libraries(${target} PRIVATE tonegen)
      target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
      target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    endforeach()
  endif()
endif()
