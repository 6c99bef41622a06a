"""The GIL is released while samples are encoded or decoded, so threads work at once; a handle
used by a second call while busy refuses it."""

import io
import threading

import numpy
import pytest
import vellox
from conftest import signal


def run_together(count, work):
    """work(i) in count threads started at once; their results, and what they raised."""
    start = threading.Barrier(count)
    results = [None] * count
    errors = []

    def run(i):
        start.wait()
        try:
            results[i] = work(i)
        except BaseException as error:  # handed to the test
            errors.append(error)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results, errors


def test_two_threads_encode_and_decode_at_once():
    samples = [signal(1500000, seed=1), signal(1500000, seed=2)]
    expected = [vellox.encode(s, high_quality=True) for s in samples]
    results, errors = run_together(2, lambda i: vellox.encode(samples[i], high_quality=True))
    assert not errors and results == expected
    decoded = [vellox.decode(e).samples for e in expected]
    results, errors = run_together(2, lambda i: vellox.decode(expected[i]).samples)
    assert not errors
    for result, wanted in zip(results, decoded):
        numpy.testing.assert_array_equal(result, wanted)


def test_a_busy_handle_refuses_a_second_call():
    release = threading.Event()
    entered = threading.Event()

    class Slow(io.BytesIO):
        def write(self, b):
            if self.tell() > 0:  # past the header: the encoder is inside feed
                entered.set()
                release.wait()
            return super().write(b)

    samples = signal(300000)
    out = Slow()
    encoder = vellox.Encoder(len(samples), out)
    feeding = threading.Thread(target=lambda: (encoder.feed(samples), encoder.finish()))
    feeding.start()
    entered.wait()
    for call in (lambda: encoder.feed(samples[:10]), encoder.finish, encoder.close,
                 lambda: encoder.clipping):
        with pytest.raises(RuntimeError, match="in use"):
            call()
    release.set()
    feeding.join()
    assert out.getvalue() == vellox.encode(samples)
