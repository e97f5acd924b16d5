"""Kestrav from Python: the delay and frequency offset between two recordings of one signal.

    import kestrav
    results = kestrav.search("first.iq", "second.iq", sample_rate=1e6, delay_window=400e-6)
    best = results[0]
    print(best.delay, best.frequency_offset, best.level)

Recordings are NumPy arrays (complex64, or int16 I/Q pairs of shape (n, 2)) or file paths
(headerless files of `sample_format`, or SigMF recordings by their .sigmf-meta/.sigmf-data path).
The search runs in libkestrav.so through ctypes: set KESTRAV_LIBRARY to its path when it is not
found beside this package's build tree or on the system's library path.
"""

import ctypes
import ctypes.util
import json
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


_FORMATS = {  # name: (NumPy dtype of one component, offset of the stored values)
    "ci16": (np.int16, 0), "cf32": (np.float32, 0), "ci8": (np.int8, 0), "cu8": (np.uint8, 128),
}
_SIGMF_DATATYPES = {"ci16_le": "ci16", "cf32_le": "cf32", "ci8": "ci8", "cu8": "cu8"}


def load(path: Union[str, os.PathLike], sample_format: str = "ci16"):
    """Reads a recording into an array the search takes, with its sample rate when SigMF gives
    one: (samples, sample_rate or None)."""
    path = os.fspath(path)
    rate = None
    if path.endswith(".sigmf-meta") or path.endswith(".sigmf-data"):
        base = path[: -len(".sigmf-meta")]
        with open(base + ".sigmf-meta", "rb") as meta_file:
            meta = json.load(meta_file)
        datatype = meta["global"]["core:datatype"]
        if datatype not in _SIGMF_DATATYPES:
            raise KestravError(2, "unsupported SigMF datatype '%s'" % datatype)
        sample_format = _SIGMF_DATATYPES[datatype]
        rate = float(meta["global"]["core:sample_rate"])
        path = base + ".sigmf-data"
    if sample_format not in _FORMATS:
        raise KestravError(2, "unknown sample format '%s'" % sample_format)
    dtype, offset = _FORMATS[sample_format]
    values = np.fromfile(path, dtype=np.dtype(dtype).newbyteorder("<"))
    values = values[: len(values) // 2 * 2].reshape(-1, 2)
    if sample_format == "cf32":
        return values.astype(np.float32).view(np.complex64).reshape(-1), rate
    return (values.astype(np.int16) - np.int16(offset)).astype(np.int16), rate


def _as_samples(recording, sample_format: str):
    if isinstance(recording, (str, os.PathLike)):
        return load(recording, sample_format)
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
           min_abs_frequency: float = 0.0, sample_format: str = "ci16") -> List[Result]:
    """Searches the second recording against the first over the delay window (seconds, total
    width, centred on centre_delay) and returns up to ten results, strongest first."""
    first_samples, first_rate = _as_samples(first, sample_format)
    second_samples, second_rate = _as_samples(second, sample_format)
    rates = {rate for rate in (first_rate, second_rate) if rate is not None}
    if len(rates) > 1:
        raise KestravError(2, "the two recordings' sample rates differ")
    if sample_rate is None:
        if not rates:
            raise KestravError(2, "the sample rate is needed")
        sample_rate = rates.pop()
    elif rates and rates.pop() != sample_rate:
        raise KestravError(2, "sample_rate disagrees with the SigMF metadata")
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
