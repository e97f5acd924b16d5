"""Kestrav from Python: the delay and frequency offset between two recordings of one signal.

    import kestrav
    results = kestrav.search("first.iq", "second.iq", sample_rate=1e6, delay_window=400e-6)
    best = results[0]
    print(best.delay, best.frequency_offset, best.level)

Recordings are NumPy arrays (complex64, or int16 I/Q pairs of shape (n, 2)) or file paths, read
by the library's own loader exactly as the program reads them: bare samples of `sample_format`
(or of the type the name says: .cf32, .cs8, .cu8, ...; int16 otherwise), WAV files, SigMF
recordings (NAME, NAME.sigmf-meta, NAME.sigmf-data) and SigMF archives (NAME.sigmf).
The search runs in libkestrav.so through ctypes: set KESTRAV_LIBRARY to its path when it is not
found beside this package's build tree or on the system's library path.
"""

import ctypes
import ctypes.util
import os
from typing import List, NamedTuple, Optional, Union

import numpy as np

__all__ = ["Result", "KestravError", "search", "load"]

MAX_RESULTS = 10
_INT16, _FLOAT32 = 0, 1


class Result(NamedTuple):
    delay: float  # seconds: positive when the signal occurs later in the second recording
    frequency_offset: float  # hertz: positive when the second recording is higher
    level: float  # decibels: peak-to-mean power of the lag's coarse spectrum


class KestravError(Exception):
    """A search that could not run; `status` is 2 for unusable input, 1 for exhausted resources."""

    def __init__(self, status: int, message: str):
        super().__init__(message)
        self.status = status


class _SearchResult(ctypes.Structure):
    _fields_ = [("delay", ctypes.c_double), ("frequencyOffset", ctypes.c_double),
                ("level", ctypes.c_double)]


def _library_path() -> str:
    explicit = os.environ.get("KESTRAV_LIBRARY")
    if explicit:
        return explicit
    here = os.path.dirname(os.path.abspath(__file__))
    built = os.path.join(here, "..", "..", "build", "lib", "libkestrav.so")
    if os.path.exists(built):
        return built
    found = ctypes.util.find_library("kestrav")
    if found:
        return found
    raise OSError("libkestrav.so not found: build the project or set KESTRAV_LIBRARY")


_library = None


def _entry():
    global _library
    if _library is None:
        _library = ctypes.CDLL(_library_path())
        function = _library.KestravSearchSamples
        function.restype = ctypes.c_int
        function.argtypes = [
            ctypes.POINTER(_SearchResult), ctypes.POINTER(ctypes.c_int),
            ctypes.c_void_p, ctypes.c_longlong, ctypes.c_void_p, ctypes.c_longlong,
            ctypes.c_int, ctypes.c_int, ctypes.c_double, ctypes.c_double, ctypes.c_double,
            ctypes.c_double, ctypes.c_double, ctypes.c_double, ctypes.c_double, ctypes.c_bool,
            ctypes.c_char_p, ctypes.c_size_t]
    return _library.KestravSearchSamples


def _reader():
    _entry()  # loads the library
    function = _library.KestravReadRecording
    function.restype = ctypes.c_int
    function.argtypes = [
        ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_longlong, ctypes.c_longlong,
        ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_longlong),
        ctypes.POINTER(ctypes.c_double), ctypes.c_char_p, ctypes.c_size_t]
    return function


def load(path: Union[str, os.PathLike], sample_format: Optional[str] = None,
         channel: Optional[int] = None):
    """Reads a recording into an array the search takes, with its sample rate when the recording
    carries one: (samples, sample_rate or None). Integer recordings give int16 I/Q pairs of shape
    (n, 2), float ones complex64."""
    encoded = os.fsencode(os.fspath(path))
    form = sample_format.encode() if sample_format else None
    chosen = -1 if channel is None else int(channel)
    read = _reader()
    sample_type, total, rate = ctypes.c_int(0), ctypes.c_longlong(0), ctypes.c_double(0.0)
    message = ctypes.create_string_buffer(1024)

    def check(status):
        if status != 0:
            raise KestravError(status, message.value.decode("utf-8", "replace"))

    check(read(encoded, form, chosen, 0, 0, None, ctypes.byref(sample_type), ctypes.byref(total),
               ctypes.byref(rate), message, len(message)))
    if sample_type.value == _FLOAT32:
        samples = np.empty(total.value, dtype=np.complex64)
    else:
        samples = np.empty((total.value, 2), dtype=np.int16)
    check(read(encoded, form, chosen, 0, total.value, samples.ctypes.data_as(ctypes.c_void_p),
               None, None, None, message, len(message)))
    return samples, (rate.value if rate.value > 0 else None)


def _as_samples(recording, sample_format: Optional[str], channel: Optional[int]):
    if isinstance(recording, (str, os.PathLike)):
        return load(recording, sample_format, channel)
    array = np.asarray(recording)
    if np.iscomplexobj(array):
        return np.ascontiguousarray(array, dtype=np.complex64), None
    if array.ndim == 2 and array.shape[1] == 2 and np.issubdtype(array.dtype, np.integer):
        if array.min(initial=0) < -32768 or array.max(initial=0) > 32767:
            raise KestravError(2, "integer samples must fit int16")
        return np.ascontiguousarray(array, dtype=np.int16), None
    raise KestravError(2, "samples must be complex, or integer I/Q pairs of shape (n, 2)")


def search(first, second, sample_rate: Optional[float] = None, delay_window: float = 0.0,
           centre_delay: float = 0.0, peak_threshold: float = 15.0,
           sample_count: Optional[int] = None, refine: bool = True,
           frequency_span: float = 16384.0, min_abs_delay: float = 0.0,
           min_abs_frequency: float = 0.0, sample_format: Optional[str] = None,
           channel: Optional[int] = None) -> List[Result]:
    """Searches the second recording against the first over the delay window (seconds, total
    width, centred on centre_delay) and returns up to ten results, strongest first.
    sample_format overrides the type a bare sample file's name says; channel picks the channel of
    multi-channel SigMF recordings."""
    first_samples, first_rate = _as_samples(first, sample_format, channel)
    second_samples, second_rate = _as_samples(second, sample_format, channel)
    rates = {rate for rate in (first_rate, second_rate) if rate is not None}
    if len(rates) > 1:
        raise KestravError(2, "the two recordings' sample rates differ")
    if sample_rate is None:
        if not rates:
            raise KestravError(2, "the sample rate is needed")
        sample_rate = rates.pop()
    elif rates and rates.pop() != sample_rate:
        raise KestravError(2, "sample_rate disagrees with the recording's own")
    floating = np.iscomplexobj(first_samples) or np.iscomplexobj(second_samples)
    if floating:
        first_samples = _to_complex64(first_samples)
        second_samples = _to_complex64(second_samples)
    if sample_count is None:
        sample_count = min(len(first_samples), 2**31 - 1)

    results = (_SearchResult * MAX_RESULTS)()
    count = ctypes.c_int(0)
    message = ctypes.create_string_buffer(1024)
    status = _entry()(
        results, ctypes.byref(count),
        first_samples.ctypes.data_as(ctypes.c_void_p), len(first_samples),
        second_samples.ctypes.data_as(ctypes.c_void_p), len(second_samples),
        _FLOAT32 if floating else _INT16, int(sample_count), float(sample_rate),
        float(centre_delay), float(delay_window), float(frequency_span), float(min_abs_delay),
        float(min_abs_frequency), float(peak_threshold), bool(refine), message, len(message))
    if status != 0:
        raise KestravError(status, message.value.decode("utf-8", "replace"))
    return [Result(r.delay, r.frequencyOffset, r.level) for r in results[: count.value]]


def _to_complex64(samples):
    if np.iscomplexobj(samples):
        return samples
    return np.ascontiguousarray(samples[:, 0] + 1j * samples[:, 1], dtype=np.complex64)
