"""Helpers of the Python module's tests: test signals, and the vellox and velloxdec programs run
on the same samples, each in the test's own scratch folder (tmp_path)."""

import os
import pathlib
import re
import subprocess
import wave

import numpy
import pytest

VELLOX = os.environ.get("VELLOX_EXECUTABLE", "build/release/vellox")
VELLOXDEC = os.environ.get("VELLOXDEC_EXECUTABLE", "build/release/velloxdec")
SOURCE = pathlib.Path(os.environ.get("VELLOX_SOURCE_DIR", "."))


def signal(count, seed=1):
    """count int16 samples: a few tones, a sweep and noise, with a silent stretch."""
    rng = numpy.random.default_rng(seed)
    t = numpy.arange(count, dtype=numpy.float64)
    x = 6000 * numpy.sin(t * 0.031) + 3000 * numpy.sin(t * t * 2e-7) + rng.normal(0, 800, count)
    x[count // 3 : count // 3 + count // 10] = 0
    return numpy.clip(numpy.round(x), -32768, 32767).astype(numpy.int16)


def program_options(tmp_path, levels=7, subblocks=16, filter="D", filter_length=11, taps=None,
                    percents=50.0, high_quality=False, channels=None, sample_rate=22050):
    """The vellox command line options for the module's settings."""
    options = ["-l", str(levels), "-s", str(subblocks)]
    if filter == "D":
        options += ["-fd", str(filter_length)]
    elif filter == "O":
        options += ["-fo", str(filter_length)]
    else:
        tap_file = tmp_path / "taps.txt"
        tap_file.write_text(f"{len(taps)}\n" + " ".join(repr(float(t)) for t in taps) + "\n")
        options += ["-fc", str(tap_file)]
    options += ["-q0"] if percents is None else ["-q", repr(float(percents))]
    if high_quality:
        options.append("-hq")
    if channels is not None:
        options += ["-c", str(channels)]
    options += ["-r", str(sample_rate)]
    return options


def program_encode(tmp_path, samples, **settings):
    """The bytes of the vellox program for the interleaved samples as raw 16-bit input."""
    raw = tmp_path / "program-in.raw"
    acm = tmp_path / "program-out.acm"
    raw.write_bytes(numpy.ascontiguousarray(samples, dtype="<i2").tobytes())
    subprocess.run([VELLOX, "-16", str(raw), str(acm)] + program_options(tmp_path, **settings),
                   check=True, capture_output=True)
    return acm.read_bytes()


def velloxdec_decode(tmp_path, data):
    """velloxdec's WAV file of the ACM bytes: its samples (1-D, frames completed with zeros),
    its channel count, and the damage its warnings count: the samples not decoded and the bytes
    behind the stream (0 without a warning)."""
    acm = tmp_path / "velloxdec-in.acm"
    out = tmp_path / "velloxdec-out.wav"
    acm.write_bytes(data)
    run = subprocess.run([VELLOXDEC, str(acm), str(out)], check=True, capture_output=True,
                         text=True)
    with wave.open(str(out), "rb") as wav:
        channels = wav.getnchannels()
        samples = numpy.frombuffer(wav.readframes(wav.getnframes()), dtype="<i2")
    damage = re.search(r"damaged input: (\d+) of", run.stderr)
    trailing = re.search(r"(\d+) bytes follow the end", run.stderr)
    return (samples.astype(numpy.int16), channels, int(damage.group(1)) if damage else 0,
            int(trailing.group(1)) if trailing else 0)


@pytest.fixture
def music():
    """Six seconds of a stereo-like signal at 22050 Hz, interleaved."""
    return signal(2 * 66150 + 1)
