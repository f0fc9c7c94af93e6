# Runs one libFuzzer target for SECONDS on a scratch copy of the seed corpus SEEDS, so that the
# corpus kept in the repository never changes.
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
file(GLOB seeds ${SEEDS}/*)
if(seeds)
  file(COPY ${seeds} DESTINATION ${SCRATCH})
endif()
execute_process(COMMAND ${FUZZER} -max_total_time=${SECONDS} -rss_limit_mb=2048
                        -malloc_limit_mb=512 -timeout=10 ${SCRATCH}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "fuzzer ${FUZZER} failed with ${rc}")
endif()
