# mrl_add_test(NAME SOURCES ... LIBS ...): one GoogleTest executable, each case a CTest test.
function(mrl_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT "MRL_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# mrl_add_fuzzer(NAME SOURCE src CORPUS dir [SECONDS n] LIBS ...): a libFuzzer target, built only
# with MRL_FUZZ, run as a CTest test on a scratch copy of its seed corpus for n seconds, or else for
# MRL_FUZZ_SECONDS. A time, never a count of inputs: a busy machine runs fewer inputs, not longer.
set(MRL_FUZZ_SECONDS 15 CACHE STRING "How long each fuzz target without its own time runs as a test")
function(mrl_add_fuzzer name)
  if(NOT MRL_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "SOURCE;CORPUS;SECONDS" "LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS ${MRL_FUZZ_SECONDS})
  endif()
  add_executable(${name} ${F_SOURCE})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${name}> -DSEEDS=${F_CORPUS}
                   -DSCRATCH=${scratch} -DSECONDS=${F_SECONDS}
                   -P ${PROJECT_SOURCE_DIR}/cmake/RunFuzzer.cmake)
endfunction()

# mrl_add_benchmark(NAME SOURCES ... LIBS ...): a Google Benchmark executable; not a test.
function(mrl_add_benchmark name)
  if(NOT MRL_BENCHMARKS)
    return()
  endif()
  find_package(benchmark REQUIRED)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
