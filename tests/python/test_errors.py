"""Every failure is an exception: vellox.Error with .status and the status text, subclasses that
are ValueError, MemoryError and OSError where a Python user catches those, the file object's
own exception chained to a WriteError or ReadError."""

import errno
import io
import os
import subprocess
import sys
import textwrap

import numpy
import pytest
import vellox
from conftest import signal

S = vellox.Status
SAMPLES = signal(3000)


@pytest.mark.parametrize("settings, status", [
    ({"levels": 16}, S.ERROR_LEVELS),
    ({"levels": -1}, S.ERROR_LEVELS),
    ({"levels": 2**70}, S.ERROR_LEVELS),        # more than the C field holds
    ({"subblocks": 0}, S.ERROR_SUBBLOCKS),
    ({"subblocks": 4096}, S.ERROR_SUBBLOCKS),
    ({"filter": "X"}, S.ERROR_FILTER),
    ({"filter": "DO"}, S.ERROR_FILTER),
    ({"filter": ""}, S.ERROR_FILTER),
    ({"filter_length": 2}, S.ERROR_FILTER_LENGTH),
    ({"filter": "D", "filter_length": 807}, S.ERROR_FILTER_LENGTH),
    ({"filter": "O", "filter_length": 403}, S.ERROR_FILTER_LENGTH),
    ({"filter": "C"}, S.ERROR_TAPS),
    ({"filter": "C", "taps": []}, S.ERROR_TAPS),
    ({"filter": "C", "taps": [0.5, float("nan")]}, S.ERROR_TAPS),
    ({"percents": 1.0}, S.ERROR_PERCENTS),
    ({"percents": 100.5}, S.ERROR_PERCENTS),
    ({"percents": float("nan")}, S.ERROR_PERCENTS),
    ({"channels": 0}, S.ERROR_FORMAT),
    ({"channels": 65536}, S.ERROR_FORMAT),
    ({"sample_rate": 0}, S.ERROR_FORMAT),
    ({"sample_rate": 65536}, S.ERROR_FORMAT),
    ({"sample_rate": -1}, S.ERROR_FORMAT),
])
def test_settings_out_of_range(settings, status):
    for call in (lambda: vellox.encode(SAMPLES, **settings),
                 lambda: vellox.Encoder(100, io.BytesIO(), **settings)):
        with pytest.raises(vellox.SettingsError) as raised:
            call()
        assert isinstance(raised.value, ValueError) and isinstance(raised.value, vellox.Error)
        assert raised.value.status is status
        assert str(raised.value)


def test_the_message_is_the_status_text():
    with pytest.raises(vellox.Error, match=r"^levels must be between 0 and 15$"):
        vellox.encode(SAMPLES, levels=99)
    with pytest.raises(vellox.Error, match=r"^not an ACM stream$"):
        vellox.decode(b"RIFF....WAVE")


def test_sample_counts():
    for count in (2**31, 2**40):
        with pytest.raises(vellox.SettingsError) as raised:
            vellox.Encoder(count, io.BytesIO())
        assert raised.value.status is S.ERROR_SAMPLE_COUNT
    with pytest.raises(ValueError, match="negative"):
        vellox.Encoder(-1, io.BytesIO())
    # Channels from a 2-D array's width, which the header must hold.
    for shape in ((5, 0), (1, 70000)):
        with pytest.raises(vellox.SettingsError) as raised:
            vellox.encode(numpy.zeros(shape, dtype=numpy.int16))
        assert raised.value.status is S.ERROR_FORMAT


@pytest.mark.parametrize("dtype", [numpy.float32, numpy.float64, numpy.complex64])
def test_floating_point_samples_are_refused(dtype):
    with pytest.raises(TypeError, match="convert them to int16"):
        vellox.encode(SAMPLES.astype(dtype))
    with pytest.raises(TypeError, match="convert them to int16"):
        vellox.Encoder(10, io.BytesIO()).feed(numpy.zeros(10, dtype=dtype))


def test_arguments_of_the_wrong_kind():
    for call in (lambda: vellox.encode(numpy.zeros(4, dtype=bool)),
                 lambda: vellox.encode(["a", "b"]),
                 lambda: vellox.encode(SAMPLES, levels=7.0),
                 lambda: vellox.encode(SAMPLES, filter=ord("D")),
                 lambda: vellox.encode(SAMPLES, percents="50"),
                 lambda: vellox.encode(SAMPLES, level=3),
                 lambda: vellox.encode(SAMPLES, 7),
                 lambda: vellox.decode("an ACM file"),
                 lambda: vellox.decode(io.BytesIO()),
                 lambda: vellox.Decoder(42),
                 lambda: vellox.Encoder(10, "out.acm")):
        with pytest.raises(TypeError):
            call()
    for call in (lambda: vellox.encode(numpy.zeros((2, 2, 2), dtype=numpy.int16)),
                 lambda: vellox.encode(numpy.array([0, 40000], dtype=numpy.int32)),
                 lambda: vellox.encode(numpy.array([-32769], dtype=numpy.int64)),
                 lambda: vellox.encode(numpy.zeros((10, 3), dtype=numpy.int16), channels=2),
                 lambda: vellox.Encoder(30, io.BytesIO()).feed(numpy.zeros((10, 3), "int16")),
                 lambda: vellox.encode(SAMPLES, taps=[0.5]),
                 lambda: vellox.encode(SAMPLES, filter="C", taps=[[0.5]]),
                 lambda: vellox.Decoder(vellox.encode(SAMPLES)).read(-2),
                 lambda: vellox.Decoder(vellox.encode(SAMPLES)).chunks(0),
                 lambda: vellox.decode(vellox.encode(SAMPLES)).frames(0)):
        with pytest.raises(ValueError) as raised:
            call()
        assert not isinstance(raised.value, vellox.Error)


def test_no_acm_stream():
    for data in (b"", b"\x97\x28\x03\x01" + b"\0" * 9, b"junk" * 100,
                 b"\x97\x28\x03\x01" + b"\0" * 10):  # blocks of 0 rows
        for call in (vellox.decode, vellox.Decoder, lambda d: vellox.Decoder(io.BytesIO(d))):
            with pytest.raises(vellox.Error) as raised:
                call(data)
            assert raised.value.status is S.ERROR_NOT_ACM
            assert not isinstance(raised.value, (ValueError, OSError))
    header = bytearray(vellox.encode([]))
    header[4:8] = (2**31).to_bytes(4, "little")
    with pytest.raises(vellox.SettingsError) as raised:
        vellox.decode(bytes(header))
    assert raised.value.status is S.ERROR_SAMPLE_COUNT


def test_sample_counts_fed_and_calls_after_the_end():
    out = io.BytesIO()
    encoder = vellox.Encoder(10, out)
    with pytest.raises(vellox.Error) as raised:
        encoder.feed(numpy.zeros(11, dtype=numpy.int16))
    assert raised.value.status is S.ERROR_TOO_MANY_SAMPLES
    encoder.feed(numpy.zeros(6, dtype=numpy.int16))  # the refused samples were not encoded
    with pytest.raises(vellox.Error) as raised:
        encoder.finish()
    assert raised.value.status is S.ERROR_TOO_FEW_SAMPLES
    encoder.feed(numpy.zeros(4, dtype=numpy.int16))
    assert encoder.finish() == len(out.getvalue()) == len(vellox.encode(numpy.zeros(10, "int16")))
    for call in (encoder.finish, lambda: encoder.feed([1])):
        with pytest.raises(vellox.Error) as raised:
            call()
        assert raised.value.status is S.ERROR_STATE
    encoder.close()
    with pytest.raises(vellox.Error) as raised:
        encoder.feed([])
    assert raised.value.status is S.ERROR_STATE

    with pytest.raises(vellox.Error) as raised:
        with vellox.Encoder(10, io.BytesIO()) as encoder:
            encoder.feed(numpy.zeros(3, dtype=numpy.int16))
    assert raised.value.status is S.ERROR_TOO_FEW_SAMPLES

    decoder = vellox.Decoder(vellox.encode(SAMPLES))
    with pytest.raises(vellox.Error) as raised:
        decoder.trailing_bytes()  # before the last sample was read
    assert raised.value.status is S.ERROR_STATE
    decoder.close()
    with pytest.raises(vellox.Error) as raised:
        decoder.read()
    assert raised.value.status is S.ERROR_STATE
    assert decoder.sample_count == len(SAMPLES)  # the header's fields stay


class FailingFile:
    """A file object whose write or read raises once so many bytes went through."""

    def __init__(self, after, data=b"", error=None):
        self.after = after
        self.data = data
        self.position = 0
        self.error = error or OSError(errno.ENOSPC, "No space left on device")
        self.written = bytearray()

    def write(self, b):
        if len(self.written) + len(b) > self.after:
            raise self.error
        self.written += b
        return len(b)

    def read(self, n):
        if self.position >= self.after:
            raise self.error
        piece = self.data[self.position : min(self.position + n, self.after)]
        self.position += len(piece)
        return piece


def test_a_write_that_raises_is_chained_to_a_write_error():
    samples = signal(100000)
    size = len(vellox.encode(samples))
    with pytest.raises(vellox.WriteError) as raised:
        vellox.Encoder(len(samples), FailingFile(after=5))  # the header is written at once
    assert isinstance(raised.value, OSError) and raised.value.status is S.ERROR_WRITE
    assert raised.value.__cause__.errno == errno.ENOSPC

    for after, fed in ((size // 2, len(samples)), (size - 3, len(samples))):
        file = FailingFile(after=after)
        encoder = vellox.Encoder(len(samples), file)
        with pytest.raises(vellox.WriteError) as raised:
            encoder.feed(samples[:fed])
            encoder.finish()
        assert raised.value.__cause__ is file.error
        assert raised.value.__cause__.__traceback__ is not None
        with pytest.raises(vellox.Error) as raised:
            encoder.finish()  # the stream is cut for good
        assert raised.value.status is S.ERROR_STATE

    with pytest.raises(vellox.WriteError) as raised:
        with vellox.Encoder(len(samples), FailingFile(after=size - 1)) as encoder:
            encoder.feed(samples)  # the end is written when the block ends
    assert raised.value.__cause__ is not None


def test_writes_that_take_nothing_or_call_back():
    class Nothing:
        def write(self, b):
            return 0

    with pytest.raises(vellox.WriteError) as raised:
        vellox.Encoder(10, Nothing())
    assert "took 0 of 14 bytes" in str(raised.value.__cause__)

    class Again(io.BytesIO):
        def write(self, b):
            if self.tell() > 0:
                self.encoder.feed(numpy.zeros(1, dtype=numpy.int16))
            return super().write(b)

    out = Again()
    out.encoder = vellox.Encoder(70000, out)
    with pytest.raises(vellox.WriteError) as raised:
        out.encoder.feed(numpy.zeros(70000, dtype=numpy.int16))
        out.encoder.finish()
    assert isinstance(raised.value.__cause__, RuntimeError)


def test_an_interrupt_in_write_is_not_wrapped():
    with pytest.raises(KeyboardInterrupt):
        vellox.Encoder(10, FailingFile(after=0, error=KeyboardInterrupt()))


def test_a_read_that_raises_is_chained_to_a_read_error():
    data = vellox.encode(signal(1000000))  # more than the decoder reads at a time
    with pytest.raises(vellox.ReadError) as raised:
        vellox.Decoder(FailingFile(after=5, data=data))
    assert isinstance(raised.value, OSError) and raised.value.status is S.ERROR_READ
    assert raised.value.__cause__.errno == errno.ENOSPC

    decoder = vellox.Decoder(FailingFile(after=len(data) // 2, data=data))
    first = decoder.read(1000)
    with pytest.raises(vellox.ReadError) as raised:
        decoder.read()
    assert raised.value.__cause__ is not None
    numpy.testing.assert_array_equal(first, vellox.decode(data).samples[:1000])
    with pytest.raises(vellox.ReadError):  # and so is every later read
        decoder.read(10)

    for result, cause in (("text", TypeError), (None, TypeError), (b"x" * 100000, ValueError)):
        class Odd:
            def read(self, n):
                return result

        with pytest.raises(vellox.ReadError) as raised:
            vellox.Decoder(Odd())
        assert isinstance(raised.value.__cause__, cause)


def test_memory_the_library_cannot_have_is_a_memory_error(tmp_path):
    # In a child process whose address space ends 256 MiB above what it uses: blocks of 15
    # levels and 4095 rows take twice that.
    script = textwrap.dedent("""
        import resource, numpy, vellox
        header = vellox.encode([], levels=15, subblocks=4095)[:14] + (3).to_bytes(4, "little")
        header = header[:4] + header[14:] + header[8:14]  # a count of 3
        size = int(open("/proc/self/statm").read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (size + (256 << 20), resource.RLIM_INFINITY))
        for call in (lambda: vellox.encode([1, 2, 3], levels=15, subblocks=4095),
                     lambda: vellox.decode(header)):
            try:
                call()
            except vellox.OutOfMemoryError as error:
                assert isinstance(error, MemoryError) and error.status is vellox.Status.ERROR_MEMORY
                print("refused")
    """)
    script_file = tmp_path / "memory.py"
    script_file.write_text(script)
    run = subprocess.run([sys.executable, str(script_file)], capture_output=True, text=True,
                         env=dict(os.environ))
    assert run.stdout.split() == ["refused", "refused"], run.stderr
