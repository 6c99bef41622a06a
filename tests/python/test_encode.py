"""vellox.encode and vellox.Encoder write the vellox program's bytes, whatever the array's
layout and however the samples are chunked."""

import io

import numpy
import pytest
import vellox
from conftest import program_encode, signal

SETTINGS = [
    {},
    {"percents": None},
    {"percents": 12.5, "high_quality": True},
    {"levels": 0, "subblocks": 1, "percents": 80.0},
    {"levels": 10, "subblocks": 3, "high_quality": True},
    {"filter": "O", "filter_length": 7, "percents": 25.0},
    {"filter": "D", "filter_length": 3, "levels": 4},
    {"filter": "C", "taps": [0.1, -0.25, 0.7071067811865476], "percents": 33.3},
    {"channels": 1, "sample_rate": 44100, "levels": 15, "subblocks": 1},
]


@pytest.mark.parametrize("settings", SETTINGS)
def test_bytes_are_the_programs(tmp_path, music, settings):
    assert vellox.encode(music, **settings) == program_encode(tmp_path, music, **settings)


@pytest.mark.parametrize("count", [0, 1, 2047, 2048, 2049, 65536])
def test_short_and_block_sized_inputs(tmp_path, count):
    samples = signal(count, seed=count)
    assert vellox.encode(samples, levels=7, subblocks=16) == program_encode(tmp_path, samples)


@pytest.mark.parametrize("settings", [SETTINGS[0], SETTINGS[2], SETTINGS[4]])
def test_encoder_in_any_chunks_writes_the_same_bytes(music, settings):
    whole = vellox.encode(music, **settings)
    rng = numpy.random.default_rng(7)
    for sizes in ([len(music)], [1] * 3000 + [len(music)], [4096] * 40, rng.integers(0, 9000, 60)):
        out = io.BytesIO()
        with vellox.Encoder(len(music), out, **settings) as encoder:
            done = 0
            for size in sizes:
                encoder.feed(music[done : done + size])
                done += len(music[done : done + size])
            encoder.feed(music[done:])
        assert out.getvalue() == whole
        assert encoder.bytes_written == len(whole)


def test_2d_input_takes_its_channels_from_the_shape(tmp_path, music):
    stereo = music[:-1].reshape(-1, 2)
    assert vellox.encode(stereo) == program_encode(tmp_path, stereo, channels=2)
    three = music[: 3 * 20000].reshape(-1, 3)
    assert vellox.encode(three, sample_rate=8000) == program_encode(
        tmp_path, three, channels=3, sample_rate=8000)
    # A 1-D array says 2 channels, as the program's header does without -c.
    assert vellox.decode(vellox.encode(music[:1000])).channels == 2
    assert vellox.decode(vellox.encode(music[:1000].reshape(-1, 1))).channels == 1


def test_2d_chunks_fed_to_an_encoder(music):
    stereo = music[:-1].reshape(-1, 2)
    out = io.BytesIO()
    with vellox.Encoder(stereo.size, out, channels=2) as encoder:
        for start in range(0, len(stereo), 5000):
            encoder.feed(stereo[start : start + 5000])
    assert out.getvalue() == vellox.encode(stereo)


def test_any_layout_gives_the_bytes_of_the_contiguous_array(music):
    stereo = numpy.ascontiguousarray(music[: 2 * 30000].reshape(-1, 2))
    expected = vellox.encode(stereo)
    wide = numpy.zeros((30000, 5), dtype=numpy.int16)
    wide[:, 1:3] = stereo
    layouts = [
        numpy.asfortranarray(stereo),
        wide[:, 1:3],                                  # strided rows
        stereo.astype(">i2"),                          # the other byte order
        stereo.astype(numpy.int32),                    # a wider integer type whose values fit
        stereo.tolist(),                               # anything numpy.asarray takes
    ]
    for samples in layouts:
        assert vellox.encode(samples) == expected
    every_other = numpy.repeat(music[:20000], 2)[::2]  # a 1-D strided view
    assert vellox.encode(every_other) == vellox.encode(music[:20000].copy())
    out = io.BytesIO()
    with vellox.Encoder(stereo.size, out) as encoder:
        encoder.feed(numpy.asfortranarray(stereo))
    assert out.getvalue() == expected


def test_decoding_gives_back_what_was_encoded_exactly_at_levels_0():
    samples = signal(5000, seed=3)
    decoded = vellox.decode(vellox.encode(samples, levels=0, percents=None))
    numpy.testing.assert_array_equal(decoded.samples, samples)
    assert decoded.samples.dtype == numpy.int16


def test_clipping_is_reported():
    loud = numpy.where(numpy.arange(40000) // 500 % 2 == 0, 32767, -32768).astype(numpy.int16)
    with vellox.Encoder(loud.size, io.BytesIO()) as encoder:
        encoder.feed(loud)
        count, extreme = encoder.clipping
    assert count > 0 and abs(extreme) > 32767
    with vellox.Encoder(10, io.BytesIO()) as encoder:
        encoder.feed(numpy.zeros(10, dtype=numpy.int16))
        assert encoder.clipping == (0, 0)


def test_a_raw_file_that_takes_part_of_each_write():
    class Trickle(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()

        def writable(self):
            return True

        def write(self, b):
            taken = max(1, len(b) // 3)
            self.data += bytes(b[:taken])
            return taken

    samples = signal(30000, seed=5)
    out = Trickle()
    with vellox.Encoder(samples.size, out) as encoder:
        encoder.feed(samples)
    assert bytes(out.data) == vellox.encode(samples)
