cmake_minimum_required(VERSION 3.21)
# run_bench: writes the input files (slp_bench_gen) and runs slp_bench on them, with the arguments of
# the SLP_BENCH_ARGS cache variable followed by those of the SLP_BENCH_ARGS environment variable, e.g.
#   SLP_BENCH_ARGS="--rounds 1" cmake --build build/bench --target run_bench
# Run as cmake -DGEN=... -DBENCH=... -DDATA=... -DCACHE_ARGS=... -P RunBench.cmake, in the build folder
# (so that --program tools/slp names the program built there).
set(_args "${CACHE_ARGS} $ENV{SLP_BENCH_ARGS}")
separate_arguments(_args UNIX_COMMAND "${_args}")
set(_gen_args "")
if("--large" IN_LIST _args)
    set(_gen_args --large)
endif()
execute_process(COMMAND "${GEN}" "${DATA}" ${_gen_args} RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
    message(FATAL_ERROR "slp_bench_gen failed (${_result})")
endif()
execute_process(COMMAND "${BENCH}" "${DATA}" ${_args} RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
    message(FATAL_ERROR "slp_bench failed (${_result})")
endif()
