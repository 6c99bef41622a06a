"""vellox.decode and vellox.Decoder hand out velloxdec's samples, from memory or a file object,
intact or damaged, in any chunks."""

import io
import re
import subprocess
import sys

import numpy
import pytest
import vellox
from conftest import SOURCE, VELLOX, VELLOXDEC, signal, velloxdec_decode


@pytest.fixture
def acm(music):
    return vellox.encode(music, percents=25.0, high_quality=True, channels=1, sample_rate=44100)


def test_samples_are_velloxdecs(tmp_path, music, acm):
    decoded = vellox.decode(acm)
    samples, channels, damage, trailing = velloxdec_decode(tmp_path, acm)
    numpy.testing.assert_array_equal(decoded.samples, samples)
    assert (decoded.channels, decoded.sample_rate, decoded.levels, decoded.subblocks) == (
        1, 44100, 7, 16)
    assert channels == 1 and damage == trailing == 0
    assert decoded.samples_not_decoded == decoded.trailing_bytes == 0
    assert len(decoded.samples) == len(music)


def test_frames_complete_the_last_frame_with_zeros_as_velloxdec_does(tmp_path, music):
    acm = vellox.encode(music, channels=3)  # 132301 samples: the last frame holds one
    decoded = vellox.decode(acm)
    frames = decoded.frames()
    samples, channels, _, _ = velloxdec_decode(tmp_path, acm)
    assert channels == 3 and frames.shape == (44101, 3)
    numpy.testing.assert_array_equal(frames.ravel(), samples)
    assert list(frames[-1, 1:]) == [0, 0]
    even = vellox.decode(vellox.encode(music[:-1].reshape(-1, 2)))
    assert even.frames().shape == (66150, 2)
    assert even.frames(channels=5).shape == (26460, 5)


def test_damaged_files_decode_as_velloxdec_decodes_them(tmp_path, acm):
    cut = acm[: len(acm) // 2]
    broken = bytearray(acm)
    broken[3000:3400] = b"\xff" * 400
    for data in (cut, bytes(broken), acm + b"\x01" * 7):
        decoded = vellox.decode(data)
        samples, _, damage, trailing = velloxdec_decode(tmp_path, data)
        numpy.testing.assert_array_equal(decoded.samples, samples)
        assert (decoded.samples_not_decoded, decoded.trailing_bytes) == (damage, trailing)
        assert damage + trailing > 0
    assert vellox.decode(acm + b"\x01" * 7).trailing_bytes == 7


def test_every_bytes_like_input(acm):
    expected = vellox.decode(acm).samples
    for data in (bytearray(acm), memoryview(acm), numpy.frombuffer(acm, dtype=numpy.uint8),
                 memoryview(b"xx" + acm)[2:]):
        numpy.testing.assert_array_equal(vellox.decode(data).samples, expected)


class Pipe:
    """A file object that gives at most a few bytes a read, as a pipe may."""

    def __init__(self, data, seed):
        self.data = data
        self.position = 0
        self.rng = numpy.random.default_rng(seed)

    def read(self, n):
        n = min(n, int(self.rng.integers(1, 700)))
        piece = self.data[self.position : self.position + n]
        self.position += len(piece)
        return piece


@pytest.mark.parametrize("chunk", [1, 1000, 65536, 10**9])
def test_decoder_in_chunks_from_memory_and_from_a_file(tmp_path, acm, chunk):
    expected = vellox.decode(acm).samples
    (tmp_path / "in.acm").write_bytes(acm)
    with open(tmp_path / "in.acm", "rb") as file:
        sources = [acm, Pipe(acm, chunk), file, io.BytesIO(acm)]
        for source in sources:
            with vellox.Decoder(source) as decoder:
                assert (decoder.sample_count, decoder.channels, decoder.sample_rate) == (
                    len(expected), 1, 44100)
                chunks = list(decoder.chunks(chunk)) if chunk < 10**9 else [decoder.read()]
                assert decoder.samples_read == len(expected)
                assert len(decoder.read(100)) == 0 and decoder.trailing_bytes() == 0
            numpy.testing.assert_array_equal(numpy.concatenate(chunks), expected)
            assert all(len(c) == min(chunk, len(expected)) for c in chunks[:-1])


def test_decoder_counts_damage_as_it_reads(acm):
    cut = acm[: len(acm) // 3]
    with vellox.Decoder(Pipe(cut, 1)) as decoder:
        first = decoder.read(1000)
        assert decoder.samples_not_decoded == 0
        rest = decoder.read(-1)
        assert decoder.samples_not_decoded == vellox.decode(cut).samples_not_decoded > 0
    numpy.testing.assert_array_equal(numpy.concatenate([first, rest]), vellox.decode(cut).samples)


def test_a_header_with_no_samples():
    decoded = vellox.decode(vellox.encode(numpy.zeros(0, dtype=numpy.int16)))
    assert decoded.samples.shape == (0,) and decoded.frames().shape == (0, 2)
    assert list(vellox.Decoder(vellox.encode([])).chunks()) == []


def test_a_header_of_zero_channels_asks_for_a_width():
    data = bytearray(vellox.encode(signal(100)))
    data[8:10] = b"\0\0"
    decoded = vellox.decode(bytes(data))
    assert decoded.channels == 0
    with pytest.raises(ValueError, match="give frames"):
        decoded.frames()
    assert decoded.frames(1).shape == (100, 1)


def test_the_readme_example_prints_what_the_programs_say(tmp_path):
    readme = (SOURCE / "README.md").read_text()
    example = readme.split("## Python module")[1].split("```python\n")[1].split("```")[0]
    printed = subprocess.run([sys.executable, "-c", example], cwd=SOURCE, check=True,
                             capture_output=True, text=True).stdout
    chirp, acm = SOURCE / "samples" / "chirp.wav", tmp_path / "chirp.acm"
    subprocess.run([VELLOX, str(chirp), str(acm), "-hq", "-c", "1"], check=True,
                   capture_output=True)
    compare = subprocess.run([VELLOXDEC, str(acm), "--compare", str(chirp)], check=True,
                             capture_output=True, text=True).stdout
    snr = re.search(r"^SNR: (\S+) dB", compare, re.M).group(1)
    assert printed == f"{acm.stat().st_size} bytes, SNR {snr} dB\n"
    assert f"It prints `{printed.strip()}`" in readme
