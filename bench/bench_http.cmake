# Under ctest: a short burst and a few round trips only prove that it runs.
set(BENCH_SMOKE_ARGS --benchmark_min_time=0.001 --pushes=300 --round-trips=3)
find_package(CURL REQUIRED)
set(EXTRA_LIBS CURL::libcurl)
