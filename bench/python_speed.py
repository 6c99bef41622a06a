#!/usr/bin/env python3
"""Times vellox.encode against the vellox program on the same samples: 10 minutes of 44.1 kHz
stereo (52.9 M samples) made here and written as a WAV file, which the program encodes with
-c 2 -r 44100 and the module encodes from the array that the WAV file's bytes are, with the
same header fields. The runs alternate; the medians of wall and processor time and of their
ratio are printed, and the two files must be the same bytes. Then the peak of what the module
allocates (tracemalloc sees numpy's arrays and Python's bytes) for a contiguous int16 array,
which is encoded in place, and for two other layouts, which cost one copy of the samples.

Usage: PYTHONPATH=build/release/python python3 bench/python_speed.py [build-dir] [runs]"""

import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
import tracemalloc
import wave

import numpy
import vellox

RATE = 44100
SECONDS = 600


def make_music(path):
    """Slowly gliding harmonic tones, a different mix on each side, a swell, noise bursts twice
    a second and a little hiss, written a second at a time."""
    rng = numpy.random.default_rng(1)
    with wave.open(path, "wb") as wav:
        wav.setnchannels(2)
        wav.setsampwidth(2)
        wav.setframerate(RATE)
        for second in range(SECONDS):
            t = second + numpy.arange(RATE) / RATE
            glide = 1 + 0.05 * numpy.sin(2 * numpy.pi * t / 37)
            frames = numpy.zeros((RATE, 2))
            for k, base in enumerate((110.0, 164.8, 220.0, 277.2)):
                phase = 2 * numpy.pi * base * glide * t
                tone = sum(numpy.sin(h * phase) / h for h in range(1, 5))
                frames[:, 0] += (1500 + 300 * k) * tone
                frames[:, 1] += (2400 - 300 * k) * tone
            frames *= 0.6 + 0.4 * numpy.sin(2 * numpy.pi * t / 8)[:, None]
            burst = (t * 2) % 1 < 0.05
            frames[burst] += rng.normal(0, 4000, (burst.sum(), 2))
            frames += rng.normal(0, 60, frames.shape)
            samples = numpy.clip(numpy.round(frames), -32768, 32767).astype("<i2")
            wav.writeframes(samples.tobytes())


def timed(work):
    """work's result, wall seconds and processor seconds (this process and its children)."""
    def processor():
        own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(
            resource.RUSAGE_CHILDREN)
        return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime
    wall, cpu = time.perf_counter(), processor()
    result = work()
    return result, time.perf_counter() - wall, processor() - cpu


def peak_allocation(work):
    tracemalloc.start()
    result = work()
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return result, peak


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/release"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    with tempfile.TemporaryDirectory() as work:
        wav_path, acm_path = os.path.join(work, "in.wav"), os.path.join(work, "out.acm")
        make_music(wav_path)
        with wave.open(wav_path, "rb") as wav:
            samples = numpy.frombuffer(wav.readframes(wav.getnframes()), dtype="<i2")
        samples = samples.reshape(-1, 2)  # a view: C-contiguous int16, as the file holds it
        count = samples.size
        print(f"{count} samples ({SECONDS} s of {RATE} Hz stereo), vellox {vellox.__version__}")

        def program():
            subprocess.run([os.path.join(build, "vellox"), wav_path, acm_path, "-c", "2", "-r",
                            str(RATE)], check=True, stdout=subprocess.DEVNULL)

        def module():
            return vellox.encode(samples, sample_rate=RATE)

        rows = {"program": [], "module": []}
        for _ in range(runs):
            _, wall, cpu = timed(program)
            rows["program"].append((wall, cpu))
            encoded, wall, cpu = timed(module)
            rows["module"].append((wall, cpu))
        with open(acm_path, "rb") as file:
            assert encoded == file.read(), "the module's bytes differ from the program's"
        print(f"same bytes as the program: {len(encoded)} bytes")
        for name, times in rows.items():
            wall = statistics.median(t[0] for t in times)
            cpu = statistics.median(t[1] for t in times)
            print(f"{name:8} wall {wall:6.3f} s  processor {cpu:6.3f} s  "
                  f"{count / wall / 1e6:6.1f} M samples/s")
        for column, label in ((0, "wall"), (1, "processor")):
            ratio = statistics.median(m[column] / p[column]
                                      for m, p in zip(rows["module"], rows["program"]))
            print(f"module time / program time, {label} (median of {runs}): {ratio:.3f}")

        # The contiguous array is encoded in place: its peak is the encoded bytes as they grow
        # (doubling, then cut to size). Every other layout adds one copy of the samples.
        layouts = {
            "contiguous int16": samples,
            "Fortran order": numpy.asfortranarray(samples),
            "every other frame": numpy.repeat(samples, 2, axis=0)[::2],
        }
        base = None
        for name, layout in layouts.items():
            (_, wall, _), peak = peak_allocation(
                lambda: timed(lambda: vellox.encode(layout, sample_rate=RATE)))
            base = peak if base is None else base
            print(f"{name:18} peak allocation {peak / 1e6:6.1f} MB, beyond the contiguous "
                  f"array's {(peak - base) / samples.nbytes:.2f} of the samples "
                  f"({samples.nbytes / 1e6:.1f} MB); {wall:.3f} s")

if __name__ == "__main__":
    main()
