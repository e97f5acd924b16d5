"""Kestrav from Python: the delay and frequency offset between two recordings of one signal.

    import kestrav
    results = kestrav.search("first.iq", "second.iq", sample_rate=1e6, delay_window=400e-6)
    best = results[0]
    print(best.delay, best.frequency_offset, best.level)
    print(best.precise_delay, best.sigma_delay, best.result_class, results.warnings)

Recordings are NumPy arrays (complex64, or int16 I/Q pairs of shape (n, 2)) or file paths, read
by the library's own loader exactly as the program reads them: bare samples of `sample_format`
(or of the type the name says: .cf32, .cs8, .cu8, ...; int16 otherwise), WAV files, SigMF
recordings (NAME, NAME.sigmf-meta, NAME.sigmf-data) and SigMF archives (NAME.sigmf).
Two recordings named by path are searched by kestrav_search, which returns the document
`kestrav --json` prints: each result carries it all (see Result). The search runs in
libkestrav.so through ctypes, looked for in this order: KESTRAV_LIBRARY, the installed library
(libkestrav.so.0 on the system's library path), this source tree's build/lib.
"""

import ctypes
import ctypes.util
import json
import os
from typing import List, NamedTuple, Optional, Union

import numpy as np

__all__ = ["Result", "Results", "KestravError", "search", "load", "library_version",
           "__version__"]
__version__ = "0.1.0"

MAX_RESULTS = 10
_INT16, _FLOAT32 = 0, 1
_JSON_SLACK = 1024  # KestravJsonSlack: room for another run's timings


class _Values(NamedTuple):
    delay: float  # seconds: positive when the signal occurs later in the second recording
    frequency_offset: float  # hertz: positive when the second recording is higher
    level: float  # decibels: peak-to-mean power of the lag's coarse spectrum


# What a result may say beyond its three values, None where the search did not say it: the
# document's names, less the unit suffix where the unit is the second or the hertz.
_DETAILS = ("refined", "lag_index", "precise_delay", "precise_frequency_offset", "sigma_delay",
            "sigma_frequency_offset", "class", "explained_by", "correlation_coefficient",
            "correlation_db", "at_delay_edge", "at_frequency_edge", "alias_checked",
            "alias_ambiguous", "alias_moved_from", "ambiguous", "runner_up", "fine_delay",
            "fine_frequency", "precise", "absolute_arrival_difference",
            "tuning_corrected_frequency_offset", "delay_rate", "sigma_delay_rate",
            "frequency_rate", "sigma_frequency_rate", "model_mismatch", "paths",
            "path_relative_power_db", "path_delay", "path_receiver")


def _python_name(key: str) -> Optional[str]:
    if key in ("delay_s", "frequency_offset_hz", "level_db", "delay_us"):
        return None  # the three values themselves, and the delay again in microseconds
    for suffix in ("_s", "_hz"):
        if key.endswith(suffix):
            return key[: -len(suffix)]
    return key


class Result(_Values):
    """One result: compares and unpacks as (delay, frequency_offset, level), in seconds, hertz
    and decibels. Searches of named recordings also carry every field of the result's JSON object
    as an attribute named as there, less a unit suffix _s or _hz (seconds and hertz stay the
    units): precise_delay (s), precise_frequency_offset (Hz), sigma_delay (s),
    sigma_frequency_offset (Hz; None where it cannot be measured), refined, lag_index, result_class
    (also getattr(result, "class"): emitter, sidelobe, path, dc or noise), explained_by (a
    sidelobe's or a path's stronger result), path_relative_power_db, path_delay (s) and
    path_receiver ("first" or "second") of a path, correlation_coefficient, correlation_db,
    at_delay_edge, at_frequency_edge, alias_checked, alias_ambiguous, alias_moved_from (Hz),
    ambiguous, runner_up, fine_delay, fine_frequency, precise (dicts named as in the document),
    delay_rate (s/s), sigma_delay_rate, frequency_rate (Hz/s), sigma_frequency_rate,
    model_mismatch, paths (each a dict with delay_s and relative_power_db) and any later ones; `json` is the object itself. Searches of arrays leave them None."""

    def __new__(cls, delay, frequency_offset, level, document=None):
        self = super().__new__(cls, delay, frequency_offset, level)
        details = dict.fromkeys(_DETAILS)
        for key, value in (document or {}).items():
            name = _python_name(key)
            if name is not None:
                details[name] = value
        details["result_class"] = details["class"]
        details["json"] = document
        self.__dict__.update(details)
        return self


class Results(list):
    """The results, strongest first. `document` is the whole JSON document of a search of named
    recordings (None for arrays): version, inputs, parameters, lag window, sizes, timings;
    `warnings` what the program would say on standard error."""

    def __init__(self, results=(), document=None):
        super().__init__(results)
        self.document = document
        self.warnings = list(document.get("warnings", [])) if document else []


class KestravError(Exception):
    """A search that could not run; `status` is 2 for unusable input, 1 for exhausted resources."""

    def __init__(self, status: int, message: str):
        super().__init__(message)
        self.status = status


class _SearchResult(ctypes.Structure):
    _fields_ = [("delay", ctypes.c_double), ("frequencyOffset", ctypes.c_double),
                ("level", ctypes.c_double)]


class _Request(ctypes.Structure):
    """kestrav_search_request, the first layout."""
    _fields_ = [("struct_size", ctypes.c_size_t), ("first_path", ctypes.c_char_p),
                ("second_path", ctypes.c_char_p), ("first_format", ctypes.c_char_p),
                ("second_format", ctypes.c_char_p), ("channel", ctypes.c_int),
                ("sample_count", ctypes.c_longlong), ("sample_rate", ctypes.c_double),
                ("centre_delay", ctypes.c_double), ("delay_window", ctypes.c_double),
                ("frequency_span", ctypes.c_double), ("min_abs_delay", ctypes.c_double),
                ("min_abs_frequency", ctypes.c_double), ("peak_threshold", ctypes.c_double),
                ("false_alarm", ctypes.c_double), ("refine", ctypes.c_int),
                ("refine_all", ctypes.c_int), ("precise", ctypes.c_int),
                ("distinct", ctypes.c_int), ("remove_dc", ctypes.c_int),
                ("threads", ctypes.c_int), ("backend", ctypes.c_char_p)]


def _library_candidates() -> List[str]:
    """KESTRAV_LIBRARY, else the installed library, else this source tree's build."""
    explicit = os.environ.get("KESTRAV_LIBRARY")
    if explicit:
        return [explicit]
    candidates = []
    found = ctypes.util.find_library("kestrav")
    if found:
        candidates.append(found)
    candidates.append("libkestrav.so.0")
    here = os.path.dirname(os.path.abspath(__file__))
    candidates.append(os.path.normpath(os.path.join(here, "..", "..", "build", "lib",
                                                    "libkestrav.so")))
    return candidates


def _load_library():
    tried = []
    for candidate in _library_candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate} ({error})")
    raise OSError("libkestrav.so not found: install kestrav, build it, or set KESTRAV_LIBRARY; "
                  "tried " + "; ".join(tried))


_library = None


def _entry():
    global _library
    if _library is None:
        library = _load_library()
        function = library.KestravSearchSamples
        function.restype = ctypes.c_int
        function.argtypes = [
            ctypes.POINTER(_SearchResult), ctypes.POINTER(ctypes.c_int),
            ctypes.c_void_p, ctypes.c_longlong, ctypes.c_void_p, ctypes.c_longlong,
            ctypes.c_int, ctypes.c_int, ctypes.c_double, ctypes.c_double, ctypes.c_double,
            ctypes.c_double, ctypes.c_double, ctypes.c_double, ctypes.c_double, ctypes.c_bool,
            ctypes.c_char_p, ctypes.c_size_t]
        function = library.kestrav_search
        function.restype = ctypes.c_int
        function.argtypes = [ctypes.POINTER(_Request), ctypes.c_char_p, ctypes.c_size_t,
                             ctypes.POINTER(ctypes.c_size_t), ctypes.c_char_p, ctypes.c_size_t]
        library.kestrav_version.restype = ctypes.c_char_p
        library.kestrav_version.argtypes = []
        _library = library
    return _library.KestravSearchSamples


def library_version() -> str:
    """The version of the libkestrav.so in use."""
    _entry()
    return _library.kestrav_version().decode()


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


def _is_path(recording) -> bool:
    return isinstance(recording, (str, bytes, os.PathLike))


def search(first, second, sample_rate: Optional[float] = None, delay_window: float = 0.0,
           centre_delay: float = 0.0, peak_threshold: float = 15.0,
           sample_count: Optional[int] = None, refine: bool = True,
           frequency_span: float = 16384.0, min_abs_delay: float = 0.0,
           min_abs_frequency: float = 0.0, sample_format: Optional[str] = None,
           channel: Optional[int] = None, false_alarm: Optional[float] = None,
           refine_all: bool = False, precise: bool = False, distinct: bool = False,
           remove_dc: bool = False, threads: Optional[int] = None,
           backend: Optional[str] = None) -> Results:
    """Searches the second recording against the first over the delay window (seconds, total
    width, centred on centre_delay) and returns up to ten results, strongest first.
    sample_format overrides the type a bare sample file's name says; channel picks the channel of
    multi-channel SigMF recordings. Two recordings named by path are searched whole by the library
    (kestrav_search), as `kestrav --json` searches them: each result then carries its precise
    estimate, deviations, class and flags. false_alarm (a probability in place of
    peak_threshold), refine_all, precise (report the precise values), distinct (emitters only),
    remove_dc, threads (workers at most; None: KESTRAV_THREADS or all) and backend ("auto",
    "host", "cuda", "reference") are as the program's options, for recordings named by path."""
    if _is_path(first) and _is_path(second):
        return _search_paths(first, second, sample_rate, delay_window, centre_delay,
                             peak_threshold, sample_count, refine, frequency_span, min_abs_delay,
                             min_abs_frequency, sample_format, channel, false_alarm, refine_all,
                             precise, distinct, remove_dc, threads, backend)
    asked = {"false_alarm": false_alarm is not None, "refine_all": refine_all,
             "precise": precise, "distinct": distinct, "remove_dc": remove_dc,
             "threads": threads is not None, "backend": backend is not None}
    named = [name for name, given in asked.items() if given]
    if named:
        raise KestravError(2, ", ".join(named) + " need both recordings named by path")
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
    return Results(Result(r.delay, r.frequencyOffset, r.level) for r in results[: count.value])


def _search_paths(first, second, sample_rate, delay_window, centre_delay, peak_threshold,
                  sample_count, refine, frequency_span, min_abs_delay, min_abs_frequency,
                  sample_format, channel, false_alarm, refine_all, precise, distinct, remove_dc,
                  threads, backend) -> Results:
    if sample_rate is not None and not float(sample_rate) > 0.0:
        raise KestravError(2, f"the sample rate {sample_rate} Hz must be greater than 0")
    _entry()
    form = sample_format.encode() if sample_format else None
    request = _Request(
        struct_size=ctypes.sizeof(_Request), first_path=os.fsencode(os.fspath(first)),
        second_path=os.fsencode(os.fspath(second)), first_format=form, second_format=form,
        channel=-1 if channel is None else int(channel),
        sample_count=0 if sample_count is None else int(sample_count),
        sample_rate=0.0 if sample_rate is None else float(sample_rate),
        centre_delay=float(centre_delay), delay_window=float(delay_window),
        frequency_span=float(frequency_span), min_abs_delay=float(min_abs_delay),
        min_abs_frequency=float(min_abs_frequency), peak_threshold=float(peak_threshold),
        false_alarm=0.0 if false_alarm is None else float(false_alarm), refine=int(bool(refine)),
        refine_all=int(bool(refine_all)), precise=int(bool(precise)),
        distinct=int(bool(distinct)), remove_dc=int(bool(remove_dc)),
        threads=0 if threads is None else int(threads),
        backend=backend.encode() if backend else None)
    message = ctypes.create_string_buffer(1024)
    length = ctypes.c_size_t(0)
    size = 1 << 16
    while True:
        document = ctypes.create_string_buffer(size)
        status = _library.kestrav_search(ctypes.byref(request), document, size,
                                         ctypes.byref(length), message, len(message))
        if status == 0 or length.value < size:
            break
        size = length.value + _JSON_SLACK  # it did not fit: run again with room for it
    if status != 0:
        raise KestravError(status, message.value.decode("utf-8", "replace"))
    parsed = json.loads(document.value.decode("utf-8"))
    return Results((Result(r["delay_s"], r["frequency_offset_hz"], r["level_db"], r)
                    for r in parsed["results"]), parsed)


def _to_complex64(samples):
    if np.iscomplexobj(samples):
        return samples
    return np.ascontiguousarray(samples[:, 0] + 1j * samples[:, 1], dtype=np.complex64)
