# Runs one fuzz target for CTest; fails on any crash, leak, timeout or
# sanitizer report (libFuzzer then exits with a non-zero code).
#   MODE=corpus: every seed once, read in place.
#   MODE=short:  SECONDS of fuzzing on a copy of the seeds in WORK, so the
#                repository never changes; findings land in WORK too.
foreach(required FUZZER CORPUS DICTIONARY WORK MODE)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "runfuzzer.cmake needs -D${required}=...")
    endif()
endforeach()

set(options -timeout=10 -rss_limit_mb=2048)
if(EXISTS "${OPTIONS_FILE}")
    file(STRINGS "${OPTIONS_FILE}" extra REGEX "^-")
    list(APPEND options ${extra})
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

if(MODE STREQUAL "corpus")
    file(GLOB seeds LIST_DIRECTORIES false "${CORPUS}/*")
    if(NOT seeds)
        message(FATAL_ERROR "No seeds in ${CORPUS}")
    endif()
    execute_process(COMMAND "${FUZZER}" ${options} -artifact_prefix=${WORK}/ ${seeds}
                    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE result)
elseif(MODE STREQUAL "short")
    if(NOT DEFINED SECONDS)
        set(SECONDS 10)
    endif()
    file(COPY "${CORPUS}/" DESTINATION "${WORK}/corpus")
    execute_process(COMMAND "${FUZZER}" ${options} -dict=${DICTIONARY} -max_total_time=${SECONDS}
                            -print_final_stats=1 -artifact_prefix=${WORK}/ "${WORK}/corpus"
                    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE result)
else()
    message(FATAL_ERROR "Unknown MODE ${MODE}")
endif()

if(NOT result EQUAL 0)
    message(FATAL_ERROR "${FUZZER} failed (${result}); see the report above and ${WORK}")
endif()
