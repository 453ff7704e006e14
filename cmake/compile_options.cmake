# Warnings, sanitizers and fuzzing instrumentation for every target of the project.

if(MSVC)
  add_compile_options(/W4)
  if(AUTORUN_WERROR)
    add_compile_options(/WX)
  endif()
else()
  add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
  # GCC 12 at -O3 reports overlapping copies inside std::basic_string that cannot happen
  # (GCC bug 105329), in every file that appends to a string.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-restrict)
  endif()
  if(AUTORUN_WERROR)
    add_compile_options(-Werror)
  endif()
endif()

if(AUTORUN_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "AUTORUN_BUILD_FUZZERS needs clang: "
                        "CC=clang CXX=clang++ cmake -DAUTORUN_BUILD_FUZZERS=ON ...")
  endif()
  # The fuzzers find out-of-range container use too. libFuzzer's coverage goes only into
  # what the fuzzers run (src/ and fuzz/ add it): in the tests and tools it would double
  # their compile time for nothing.
  add_compile_options(-D_GLIBCXX_ASSERTIONS)
  set(AUTORUN_FUZZ_COVERAGE -fsanitize=fuzzer-no-link)
  set(AUTORUN_SANITIZE ON)
endif()

if(AUTORUN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # Lets the long tests take smaller samples where every run is many times slower; GCC's
  # and clang's own signs of the sanitizers differ.
  add_compile_definitions(AUTORUN_SANITIZED)
endif()

# The host programs carry the C++ runtime in them: the loader then has no libstdc++ to map
# and relocate at every start, which is a third of the simulator's start-up here. Not with
# the sanitizers, whose runtime must stand in for the library's allocation functions.
function(autorun_link_runtime_statically target)
  if(NOT AUTORUN_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT WIN32)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
