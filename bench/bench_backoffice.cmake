set(EXTRA_SOURCES ${PROJECT_SOURCE_DIR}/tests/backend/BackendRig.cpp ${PROJECT_SOURCE_DIR}/tests/backend/BackendRig.h)
set(EXTRA_LIBS bosimcore)
# Under ctest a small list, backlog, a few records, heartbeats and calls only prove that it runs.
set(BENCH_SMOKE_ARGS --benchmark_min_time=0.001 --uids=2000 --backlog=200 --heartbeats=150 --calls=20)
