# Under ctest a few passages only prove that it runs; by hand it runs 200 and 3 with the real pauses.
set(BENCH_SMOKE_ARGS --passages=3 --real-passages=1)
