"""CPU time of stopbound.design(K, 0.2, 0.05) from Python, K = 20, 60 and 255:
the median over repeated calls, for comparison with the in-process C++ figure
(its CPU column) of ``stopbound_bench --benchmark_filter=BM_make_design``. CPU
time, because a shared machine's wall clock measures the other jobs too.

    build/default/tests/python/venv/bin/python bench/bindings/design.py
"""
import statistics
import time
import timeit

import stopbound

for K in (20, 60, 255):
    stopbound.design(K, 0.2, 0.05)  # warm
    reps = 200 if K > 100 else 1000
    times = timeit.repeat(lambda: stopbound.design(K, 0.2, 0.05), number=reps, repeat=15,
                          timer=time.process_time)
    print(f"design({K}, 0.2, 0.05): {1e6 * statistics.median(times) / reps:.1f} us")
