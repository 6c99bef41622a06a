"""Encode 16-bit samples into ACM files and decode them, with libvellox."""

import enum
from types import TracebackType
from typing import Iterator, Literal, Optional, Protocol, Sequence, Type, Union

import numpy
import numpy.typing

__version__: str

class Status(enum.IntEnum):
    OK = 0
    ERROR_ARGUMENT = 1
    ERROR_LEVELS = 2
    ERROR_SUBBLOCKS = 3
    ERROR_FILTER = 4
    ERROR_FILTER_LENGTH = 5
    ERROR_TAPS = 6
    ERROR_PERCENTS = 7
    ERROR_SAMPLE_COUNT = 8
    ERROR_MEMORY = 9
    ERROR_WRITE = 10
    ERROR_READ = 11
    ERROR_TOO_MANY_SAMPLES = 12
    ERROR_TOO_FEW_SAMPLES = 13
    ERROR_NOT_ACM = 14
    ERROR_STATE = 15
    ERROR_FORMAT = 16

class Error(Exception):
    status: Optional[Status]

class SettingsError(Error, ValueError): ...
class OutOfMemoryError(Error, MemoryError): ...
class WriteError(Error, OSError): ...
class ReadError(Error, OSError): ...

Samples = numpy.typing.ArrayLike
"""int16 samples: 1-D interleaved, or 2-D as (frames, channels)."""

BytesLike = Union[bytes, bytearray, memoryview, numpy.ndarray]
"""Bytes of an ACM file; a numpy array of uint8."""

FilterKind = Literal["D", "O", "C", "d", "o", "c"]

class _Writable(Protocol):
    def write(self, data: bytes, /) -> object: ...

class _Readable(Protocol):
    def read(self, size: int, /) -> BytesLike: ...

def encode(
    samples: Samples,
    *,
    levels: int = 7,
    subblocks: int = 16,
    filter: FilterKind = "D",
    filter_length: int = 11,
    taps: Optional[Sequence[float]] = None,
    percents: Optional[float] = 50.0,
    high_quality: bool = False,
    channels: Optional[int] = None,
    sample_rate: int = 22050,
) -> bytes: ...

class Decoded:
    @property
    def samples(self) -> numpy.ndarray: ...
    @property
    def channels(self) -> int: ...
    @property
    def sample_rate(self) -> int: ...
    @property
    def levels(self) -> int: ...
    @property
    def subblocks(self) -> int: ...
    @property
    def samples_not_decoded(self) -> int: ...
    @property
    def trailing_bytes(self) -> int: ...
    def frames(self, channels: Optional[int] = None) -> numpy.ndarray: ...

def decode(data: BytesLike) -> Decoded: ...

class Encoder:
    def __init__(
        self,
        sample_count: int,
        file: _Writable,
        *,
        levels: int = 7,
        subblocks: int = 16,
        filter: FilterKind = "D",
        filter_length: int = 11,
        taps: Optional[Sequence[float]] = None,
        percents: Optional[float] = 50.0,
        high_quality: bool = False,
        channels: Optional[int] = None,
        sample_rate: int = 22050,
    ) -> None: ...
    def feed(self, samples: Samples) -> None: ...
    def finish(self) -> int: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Encoder": ...
    def __exit__(
        self,
        type: Optional[Type[BaseException]],
        value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> bool: ...
    @property
    def sample_count(self) -> int: ...
    @property
    def bytes_written(self) -> int: ...
    @property
    def clipping(self) -> tuple[int, int]: ...

class DecoderChunks:
    def __iter__(self) -> "DecoderChunks": ...
    def __next__(self) -> numpy.ndarray: ...

class Decoder:
    def __init__(self, source: Union[BytesLike, _Readable]) -> None: ...
    def read(self, count: Optional[int] = None) -> numpy.ndarray: ...
    def chunks(self, size: int = 65536) -> Iterator[numpy.ndarray]: ...
    def trailing_bytes(self) -> int: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Decoder": ...
    def __exit__(
        self,
        type: Optional[Type[BaseException]],
        value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> bool: ...
    @property
    def sample_count(self) -> int: ...
    @property
    def channels(self) -> int: ...
    @property
    def sample_rate(self) -> int: ...
    @property
    def levels(self) -> int: ...
    @property
    def subblocks(self) -> int: ...
    @property
    def samples_read(self) -> int: ...
    @property
    def samples_not_decoded(self) -> int: ...
