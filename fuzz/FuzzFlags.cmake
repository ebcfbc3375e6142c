# Compiler flags of a fuzzing build, included from the top before any target is made: every
# object carries libFuzzer's coverage hooks and runs under AddressSanitizer and
# UndefinedBehaviorSanitizer; only the fuzz targets link libFuzzer's own main (fuzz/CMakeLists.txt).
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "GLIMMORA_FUZZ needs Clang: configure with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
if(GLIMMORA_SANITIZE OR GLIMMORA_TSAN)
  message(FATAL_ERROR "GLIMMORA_FUZZ brings its own sanitizers; leave GLIMMORA_SANITIZE and GLIMMORA_TSAN off")
endif()
# Debug builds keep their assertions and the run-time's call checks; -O1 makes them fast enough to fuzz.
add_compile_options(-O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
