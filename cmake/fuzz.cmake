# Fuzz targets of the console core (fuzz/).
#
# Always built:
#   fuzz_replay_console, fuzz_replay_parsers, run every file of fuzz/corpus/fuzz_console,
#   fuzz_replay_script, fuzz_replay_report    fuzz/corpus/fuzz_parsers, fuzz/corpus/fuzz_script and
#                                             fuzz/corpus/fuzz_report through the targets' entry
#                                             point; registered as tests of the same names, so a
#                                             sanitizer build (-DKALVOR_SANITIZE=address) replays
#                                             the corpus under ASan and UBSan
#   fuzz_make_corpus                          writes the seed corpus
# With -DKALVOR_FUZZ=ON and clang (CC=clang CXX=clang++), also the libFuzzer programs
#   fuzz_console, fuzz_parsers, fuzz_script,  -fsanitize=fuzzer,address,undefined
#   fuzz_report
# See fuzz/README.md for the commands.

option(KALVOR_FUZZ "Build the libFuzzer programs fuzz_console, fuzz_parsers, fuzz_script and fuzz_report (needs clang)" OFF)

set(KALVOR_FUZZ_DIR ${CMAKE_SOURCE_DIR}/fuzz)
set(KALVOR_FUZZ_TARGETS console parsers script report)
# fuzz_script runs the headless script runner on the test host (tests/support/script_test_host).
set(KALVOR_FUZZ_SUPPORT_SOURCES ${KALVOR_FUZZ_DIR}/harness.cpp ${CMAKE_SOURCE_DIR}/tests/support/test_host.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/script_test_host.cpp ${CMAKE_SOURCE_DIR}/src/app/headless/script_runner.cpp
    ${CMAKE_SOURCE_DIR}/src/app/headless/control_names.cpp
    ${CMAKE_SOURCE_DIR}/src/app/headless/script_check.cpp
    ${CMAKE_SOURCE_DIR}/src/app/headless/burn_action.cpp)
set(KALVOR_FUZZ_INCLUDES ${KALVOR_FUZZ_DIR} ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/sim/lib)

# The harness and the test host on the ordinary libraries (whatever sanitizers the build has).
add_library(kalvor_fuzz_support STATIC ${KALVOR_FUZZ_SUPPORT_SOURCES})
target_include_directories(kalvor_fuzz_support PUBLIC ${KALVOR_FUZZ_INCLUDES})
target_link_libraries(kalvor_fuzz_support PUBLIC kalvor_report kalvor_core zeda_sim)

foreach(target ${KALVOR_FUZZ_TARGETS})
  add_executable(fuzz_replay_${target} ${KALVOR_FUZZ_DIR}/fuzz_${target}.cpp ${KALVOR_FUZZ_DIR}/replay_main.cpp)
  target_link_libraries(fuzz_replay_${target} PRIVATE kalvor_fuzz_support)
  add_test(NAME fuzz_replay_${target}
           COMMAND fuzz_replay_${target} ${KALVOR_FUZZ_DIR}/corpus/fuzz_${target})
  set_tests_properties(fuzz_replay_${target} PROPERTIES TIMEOUT 300)
endforeach()

add_executable(fuzz_make_corpus ${KALVOR_FUZZ_DIR}/make_corpus.cpp)
target_link_libraries(fuzz_make_corpus PRIVATE kalvor_fuzz_support)
target_compile_definitions(fuzz_make_corpus PRIVATE KALVOR_FUZZ_CORPUS_DIR="${KALVOR_FUZZ_DIR}/corpus")

if(KALVOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "KALVOR_FUZZ needs clang (CC=clang CXX=clang++ cmake ...): "
                    "only the replay programs are built")
  else()
    # The core, the simulator's module and the harness compiled again with coverage feedback
    # for libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer (any UB aborts).
    set(KALVOR_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                          -fno-omit-frame-pointer -g)
    add_library(kalvor_fuzz_instrumented STATIC
                ${KALVOR_CORE_SOURCES} ${KALVOR_REPORT_SOURCES} ${ZEDA_SIM_SOURCES} ${KALVOR_FUZZ_SUPPORT_SOURCES})
    target_include_directories(kalvor_fuzz_instrumented PUBLIC ${KALVOR_FUZZ_INCLUDES})
    target_compile_options(kalvor_fuzz_instrumented PRIVATE ${KALVOR_FUZZ_FLAGS})
    target_link_libraries(kalvor_fuzz_instrumented PUBLIC Threads::Threads util)
    # The control table's lookups compare control ids hundreds of times per handler; tracing
    # those comparisons guides nothing and took half of the fuzzing time.
    set_source_files_properties(${CMAKE_SOURCE_DIR}/src/console/control_table.cpp
                                TARGET_DIRECTORY kalvor_fuzz_instrumented
                                PROPERTIES COMPILE_OPTIONS "-fno-sanitize-coverage=trace-cmp")
    foreach(target ${KALVOR_FUZZ_TARGETS})
      add_executable(fuzz_${target} ${KALVOR_FUZZ_DIR}/fuzz_${target}.cpp)
      target_compile_options(fuzz_${target} PRIVATE ${KALVOR_FUZZ_FLAGS})
      target_link_libraries(fuzz_${target} PRIVATE kalvor_fuzz_instrumented)
      target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
    endforeach()
  endif()
endif()
