#!/usr/bin/env python3
"""Peer of bench_derived's vorticity/2000: numpy.gradient vorticity of the same field.

Usage: python3 bench/derived_peer.py [N] [REPETITIONS]
Builds bench_derived's N x N field (default 2000): float32 u and v on axes
x = y = s^2/2 + s/2, s = k / (N - 1), and times dv/dx - du/dy with
numpy.gradient on that non-uniform spacing, second order at the edges
(edge_order=2) as Velmora's differences are. Prints the median wall time over
the repetitions (default 5) after one warm-up run, and the processor time.
"""
import statistics
import sys
import time

import numpy


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    s = numpy.arange(n) / (n - 1)
    axis = s * s * 0.5 + s * 0.5
    x, y = numpy.meshgrid(axis, axis)
    u = (0.3 * numpy.sin(6 * numpy.pi * x) * numpy.cos(6 * numpy.pi * y) + 0.05).astype(numpy.float32)
    v = (-0.3 * numpy.cos(6 * numpy.pi * x) * numpy.sin(6 * numpy.pi * y)).astype(numpy.float32)

    def vorticity():
        return (numpy.gradient(v, axis, axis=1, edge_order=2)
                - numpy.gradient(u, axis, axis=0, edge_order=2))

    vorticity()
    times = []
    cpu = []
    for _ in range(repetitions):
        start = time.perf_counter()
        start_cpu = time.process_time()
        w = vorticity()
        cpu.append(time.process_time() - start_cpu)
        times.append(time.perf_counter() - start)
    # The processor time as bench_derived's process_cpu_ms: on a shared
    # machine it still compares when the wall times do not.
    print(f"numpy.gradient vorticity {n} x {n} ({w.dtype}): "
          f"median {statistics.median(times) * 1000:.1f} ms, "
          f"processor {statistics.median(cpu) * 1000:.1f} ms over {repetitions} runs")


if __name__ == "__main__":
    main()
