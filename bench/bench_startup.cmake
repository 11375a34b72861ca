# The program under measurement is the application itself; under ctest the idle
# wait is shortened and a single start of each proves that the harness works.
set(BENCH_SMOKE_ARGS --starts=1 --idle=2)
