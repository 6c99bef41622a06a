"""Random and mutated bytes through decode and Decoder, for a few seconds: no crash, only
vellox.Error, and the same outcome (samples, damage, bytes behind the stream) from memory as
from a file object read in odd pieces."""

import time

import numpy
import vellox
from conftest import signal

SEEDS = [
    vellox.encode(signal(3000, seed=1), levels=0, subblocks=1, percents=None),
    vellox.encode(signal(5000, seed=2), levels=3, subblocks=4),
    vellox.encode(signal(20000, seed=3), high_quality=True, percents=20.0),
    vellox.encode(signal(9000, seed=4), levels=10, subblocks=2, percents=None),
    vellox.encode(signal(4000, seed=5), filter="O", filter_length=5, channels=1),
]


def mutate(rng, data):
    data = bytearray(data)
    for _ in range(int(rng.integers(1, 4))):
        kind = int(rng.integers(0, 5))
        at = int(rng.integers(0, len(data))) if data else 0
        if kind == 0 and data:  # flip bits
            data[at] ^= 1 << int(rng.integers(0, 8))
        elif kind == 1:  # overwrite a run
            data[at : at + 8] = rng.bytes(8)
        elif kind == 2:  # cut
            del data[at:]
        elif kind == 3:  # insert
            data[at:at] = rng.bytes(int(rng.integers(1, 40)))
        else:  # all random
            data = bytearray(rng.bytes(int(rng.integers(0, 300))))
    if len(data) >= 14:
        # Keep each case quick: at most 2^18 samples and 2^16 values a block.
        count = int.from_bytes(data[4:8], "little")
        if count >= 1 << 18:
            data[4:8] = (count & 0x3FFFF).to_bytes(4, "little")
        shape = int.from_bytes(data[12:14], "little")
        if (shape >> 4) << (shape & 15) > 1 << 16:
            data[12:14] = b"\x17\x01"  # 7 levels, 17 rows
    return bytes(data)


class Pieces:
    def __init__(self, data, rng):
        self.data, self.position, self.rng = data, 0, rng

    def read(self, n):
        n = min(n, int(self.rng.integers(0, 300)) or 1)
        piece = self.data[self.position : self.position + n]
        self.position += len(piece)
        return piece


def outcome(call):
    try:
        return call()
    except vellox.Error as error:
        return error.status


def test_hostile_bytes_never_crash_and_agree():
    rng = numpy.random.default_rng(2024)
    deadline = time.monotonic() + 3.0
    cases = 0
    while time.monotonic() < deadline:
        data = mutate(rng, SEEDS[cases % len(SEEDS)])
        whole = outcome(lambda: vellox.decode(data))
        size = int(rng.integers(1, 5000))

        def in_pieces():
            with vellox.Decoder(Pieces(data, rng)) as decoder:
                chunks = list(decoder.chunks(size))
                return chunks, decoder.samples_not_decoded, decoder.trailing_bytes()

        pieces = outcome(in_pieces)
        if isinstance(whole, vellox.Status):
            assert pieces == whole
        else:
            chunks, lost, trailing = pieces
            samples = numpy.concatenate(chunks) if chunks else numpy.zeros(0, numpy.int16)
            numpy.testing.assert_array_equal(samples, whole.samples)
            assert (lost, trailing) == (whole.samples_not_decoded, whole.trailing_bytes)
            whole.frames(1 + cases % 3)
        cases += 1
    assert cases > 100
