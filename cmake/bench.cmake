# Benchmarks and whole-process measurements (bench/), with -DKALVOR_BENCH=ON; not part of the
# test run. scripts/bench.sh builds them in build-bench (Release) and runs them; the figures and
# how they were taken are in docs/PERFORMANCE.md.
#   bench_dispatch      Google Benchmark: bytes/s through the link and the decoders, heap
#                       allocations per received byte and per frame
#   bench_ack_latency   last byte of an answer on a pseudo-terminal to the console's ACK
#   bench_dispense_run  a 100-cycle dispense run against the simulator beside its floor
#   bench_process       kalvor-tp: start to port open, idle CPU, resident memory
#   bench_window        the Qt window's time per dispense cycle, at the start and after 10,000 lines
#   bench_flood         kalvor-tp on a pseudo-terminal flooded at full speed: throughput and memory
#   bench_modules       kalvor-tp --bench: 64 or 128 simulated modules beside one alone (wall
#                       time, CPU per module-cycle, memory), and 16 beside two busy cores
#   soak                2,000 dispense cycles against the simulator with faults of every kind

option(KALVOR_BENCH "Build the benchmarks and the soak program" OFF)

if(KALVOR_BENCH)
  set(KALVOR_BENCH_DIR ${CMAKE_SOURCE_DIR}/bench)
  function(kalvor_bench name)
    add_executable(${name} ${KALVOR_BENCH_DIR}/${name}.cpp)
    target_include_directories(${name} PRIVATE ${KALVOR_BENCH_DIR} ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/sim/lib)
    target_link_libraries(${name} PRIVATE ${ARGN})
    target_compile_definitions(${name} PRIVATE KALVOR_BIN_DIR="${CMAKE_BINARY_DIR}")
  endfunction()

  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    kalvor_bench(bench_dispatch kalvor_core benchmark::benchmark)
  else()
    message(WARNING "Google Benchmark (libbenchmark-dev) not found: bench_dispatch is not built")
  endif()
  kalvor_bench(bench_ack_latency kalvor_headless)
  kalvor_bench(bench_dispense_run kalvor_headless)
  kalvor_bench(bench_process kalvor_core util)
  kalvor_bench(bench_flood kalvor_core util)
  kalvor_bench(soak kalvor_headless)
  kalvor_bench(bench_modules)
  if(KALVOR_WITH_QT AND TARGET kalvor_ui)
    kalvor_bench(bench_window kalvor_ui)
  endif()
endif()
