# Under ctest a few cycles only prove that it runs; by hand it runs 1000.
set(BENCH_SMOKE_ARGS --cycles=3)
