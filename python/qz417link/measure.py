"""Measurement jobs (height, line, step, edge, width, gap, angle, area) on
profiles, computed by the model library's C++ tools through libqz417model_c.

    job = qz417link.Job.load("seam.json")
    result = job.measure(profile)            # a Profile, or (x, z) arrays
    result.passed, result["step"].values["step"]
    run = job.measure_recording("run.h5")    # every profile of a recording
    run.values["step"]["step"]               # NumPy array, NaN = no result

The library ships inside the package (qz417link/libqz417model_c.so); set
$QZ417MODEL_C_LIBRARY to use another copy. The job format is described in
docs/measurement.md.
"""

from __future__ import annotations

import ctypes
import math
import os
import threading
from dataclasses import dataclass
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _lib as _lib_module
from .errors import LibraryNotFound, QZ417Error
from .profile import Scale

MAX_OUTPUTS = 5
_ERROR_SIZE = 1024
LIMIT_STATES = ("pass", "fail", "no result")


class JobError(QZ417Error):
    """A job file or text that cannot be used; the message names the entry."""


class MeasureError(QZ417Error):
    """Measuring failed (an unreadable recording, a range beyond its end)."""


class _Scale(ctypes.Structure):
    _fields_ = [
        ("range_x", ctypes.c_uint16),
        ("range_z", ctypes.c_uint16),
        ("discrete_value", ctypes.c_uint16),
        ("error_value", ctypes.c_int16),
    ]


_p = ctypes.c_void_p
_s = ctypes.c_char_p
_i = ctypes.c_int
_sz = ctypes.c_size_t
_i64 = ctypes.c_int64
_u64 = ctypes.c_uint64
_dbl_p = ctypes.POINTER(ctypes.c_double)

class _StreamCounts(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint64) for name in ("received", "lost", "late", "duplicates", "restarts")]


class _SocketReceive(ctypes.Structure):
    _fields_ = [("granted_bytes", ctypes.c_int32), ("drops_known", ctypes.c_int32), ("drops", ctypes.c_uint64)]


_SIGNATURES: Dict[str, Tuple[Any, List[Any]]] = {
    "qz417m_job_format_version": (_i, []),
    "qz417m_job_load": (_p, [_s, _s, _sz]),
    "qz417m_job_parse": (_p, [_s, _sz, _s, _sz]),
    "qz417m_job_free": (None, [_p]),
    "qz417m_job_json": (_s, [_p]),
    "qz417m_job_tool_count": (_i, [_p]),
    "qz417m_job_tool_name": (_s, [_p, _i]),
    "qz417m_job_tool_kind": (_s, [_p, _i]),
    "qz417m_job_output_count": (_i, [_p, _i]),
    "qz417m_job_output_name": (_s, [_p, _i, _i]),
    "qz417m_job_output_unit": (_s, [_p, _i, _i]),
    "qz417m_job_limit_count": (_i, [_p, _i]),
    "qz417m_job_total_limits": (_i, [_p]),
    "qz417m_job_limit": (_i, [_p, _i, _i, ctypes.POINTER(_i), _dbl_p, _dbl_p]),
    "qz417m_measure": (_i, [_p, _p, _p, _sz, _p, _p, _p, _p, _s, _sz]),
    "qz417m_recording_profiles": (_i64, [_s, _s, _sz]),
    "qz417m_measure_recording": (_i64, [_p, _s, _u64, _u64, ctypes.POINTER(_Scale), _p, _p, _p, _p, _s, _sz]),
    "qz417m_recorded_jobs": (_i64, [_s, _s, _sz]),
    "qz417m_recorded_job": (_p, [_s, _i64, ctypes.POINTER(_u64), ctypes.POINTER(_u64), _s, _sz]),
    "qz417m_read_recorded_results": (_i64, [_s, _i64, _u64, _p, _p, _p, _p, _p, _s, _sz]),
    # The stream statistics (stream.py).
    "qz417m_stream_stats_new": (_p, [_s, _sz]),
    "qz417m_stream_stats_free": (None, [_p]),
    "qz417m_stream_stats_observe": (_i, [_p, ctypes.c_uint16]),
    "qz417m_stream_stats_observe_packet": (_i, [_p, _s, _sz]),
    "qz417m_stream_stats_counts": (_i, [_p, ctypes.POINTER(_StreamCounts)]),
    "qz417m_socket_receive_read": (_i, [_i, ctypes.POINTER(_SocketReceive)]),
}

_lib: Optional[ctypes.CDLL] = None
_lib_lock = threading.Lock()


def library_path() -> str:
    """Where the measurement library is loaded from: $QZ417MODEL_C_LIBRARY,
    else the package's folder. Debian's dh_python3 gives the file the name
    of an extension module (libqz417model_c.cpython-311-x86_64-linux-gnu.so),
    so any libqz417model_c*.so there counts, the plain name first."""
    override = os.environ.get("QZ417MODEL_C_LIBRARY")
    if override:
        return override
    here = os.path.dirname(os.path.abspath(__file__))
    plain = os.path.join(here, "libqz417model_c.so")
    if os.path.exists(plain):
        return plain
    try:
        tagged = sorted(n for n in os.listdir(here) if n.startswith("libqz417model_c.") and n.endswith(".so"))
    except OSError:
        tagged = []
    return os.path.join(here, tagged[0]) if tagged else plain


def _library() -> ctypes.CDLL:
    global _lib
    with _lib_lock:
        if _lib is None:
            path = library_path()
            try:
                lib = ctypes.CDLL(path)
            except OSError as e:
                raise LibraryNotFound(
                    f"cannot load the model library {path} (measuring, stream statistics): {e};"
                    " set $QZ417MODEL_C_LIBRARY to its path"
                ) from e
            _lib_module.bind_signatures(
                lib,
                _SIGNATURES,
                lambda name: f"the model library {path} lacks {name} (an older copy?);"
                " set $QZ417MODEL_C_LIBRARY to the package's own",
            )
            _lib = lib
        return _lib


def _text(value: Optional[bytes]) -> str:
    return value.decode("utf-8", "replace") if value is not None else ""


@dataclass(frozen=True)
class Limit:
    output: str
    min: Optional[float]
    max: Optional[float]


@dataclass(frozen=True)
class ToolInfo:
    """One tool of a job: its name, kind, outputs (name, unit) and limits."""

    name: str
    kind: str
    outputs: Tuple[Tuple[str, str], ...]
    limits: Tuple[Limit, ...]


@dataclass(frozen=True)
class ToolResult:
    """One tool on one profile: values by output name (empty without a
    result, whose reason says why), limit states by output name."""

    name: str
    ok: bool
    reason: Optional[str]
    values: Mapping[str, float]
    passed: bool
    limits: Mapping[str, str]


@dataclass(frozen=True)
class Results:
    """A job on one profile; results["tool name"] gives a ToolResult."""

    passed: bool
    tools: Tuple[ToolResult, ...]

    def __getitem__(self, name: str) -> ToolResult:
        for t in self.tools:
            if t.name == name:
                return t
        raise KeyError(name)


@dataclass(frozen=True)
class RecordingResults:
    """A job on profiles of a recording, as arrays over the profiles.

    values[tool][output]: float64 array (NaN where the tool gave no result);
    tool_passed[tool]: bool array; passed: bool array (every tool passed);
    reasons[tool]: list of the reason or None per profile;
    measurement_count: uint16 array; first: index of the first profile."""

    first: int
    measurement_count: npt.NDArray[np.uint16]
    values: Mapping[str, Mapping[str, npt.NDArray[np.float64]]]
    tool_passed: Mapping[str, npt.NDArray[np.bool_]]
    passed: npt.NDArray[np.bool_]
    reasons: Mapping[str, List[Optional[str]]]

    def __len__(self) -> int:
        return int(self.passed.shape[0])


def _as_array(values: Any) -> npt.NDArray[np.float64]:
    return np.ascontiguousarray(np.asarray(values, dtype=np.float64).reshape(-1))


class Job:
    """A measurement job, measured by the C++ tools. Not thread-safe: use
    one Job per thread (Job.load the same file again)."""

    def __init__(self, handle: int) -> None:
        self._lib = _library()
        self._handle: Optional[int] = handle
        lib = self._lib
        tools = []
        for t in range(lib.qz417m_job_tool_count(handle)):
            outputs = tuple(
                (_text(lib.qz417m_job_output_name(handle, t, k)), _text(lib.qz417m_job_output_unit(handle, t, k)))
                for k in range(lib.qz417m_job_output_count(handle, t))
            )
            limits = []
            for k in range(lib.qz417m_job_limit_count(handle, t)):
                out, lo, hi = _i(), ctypes.c_double(), ctypes.c_double()
                lib.qz417m_job_limit(handle, t, k, ctypes.byref(out), ctypes.byref(lo), ctypes.byref(hi))
                limits.append(
                    Limit(
                        outputs[out.value][0],
                        None if math.isnan(lo.value) else lo.value,
                        None if math.isnan(hi.value) else hi.value,
                    )
                )
            tools.append(
                ToolInfo(
                    _text(lib.qz417m_job_tool_name(handle, t)),
                    _text(lib.qz417m_job_tool_kind(handle, t)),
                    outputs,
                    tuple(limits),
                )
            )
        self.tools: Tuple[ToolInfo, ...] = tuple(tools)
        self._total_limits = lib.qz417m_job_total_limits(handle)

    @classmethod
    def load(cls, path: Union[str, "os.PathLike[str]"]) -> "Job":
        """Reads a job file; JobError names the file and the bad entry."""
        lib = _library()
        error = ctypes.create_string_buffer(_ERROR_SIZE)
        handle = lib.qz417m_job_load(os.fsencode(path), error, _ERROR_SIZE)
        if not handle:
            raise JobError(_text(error.value))
        return cls(handle)

    @classmethod
    def parse(cls, text: Union[str, bytes]) -> "Job":
        """A job from its JSON text."""
        lib = _library()
        data = text.encode() if isinstance(text, str) else bytes(text)
        error = ctypes.create_string_buffer(_ERROR_SIZE)
        handle = lib.qz417m_job_parse(data, len(data), error, _ERROR_SIZE)
        if not handle:
            raise JobError(_text(error.value))
        return cls(handle)

    def close(self) -> None:
        if self._handle:
            self._lib.qz417m_job_free(self._handle)
            self._handle = None

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown
            pass

    def __enter__(self) -> "Job":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _live(self) -> int:
        if not self._handle:
            raise ValueError("the job is closed")
        return self._handle

    def to_json(self) -> str:
        """The job in the file format (as the library writes it)."""
        return _text(self._lib.qz417m_job_json(self._live()))

    def measure(self, profile: Any, z: Any = None) -> Results:
        """Measures one profile: a Profile (x, z), an (x, z) pair, or x and z
        arrays. NaN in x or z marks an invalid point."""
        if z is None:
            if hasattr(profile, "x") and hasattr(profile, "z"):
                x_values, z_values = profile.x, profile.z
            else:
                x_values, z_values = profile
        else:
            x_values, z_values = profile, z
        x = _as_array(x_values)
        zz = _as_array(z_values)
        if x.shape != zz.shape:
            raise ValueError(f"x and z differ in length ({x.shape[0]} and {zz.shape[0]})")
        n_tools = len(self.tools)
        values = np.empty(n_tools * MAX_OUTPUTS, dtype=np.float64)
        passed = np.zeros(n_tools, dtype=np.uint8)
        reasons = (ctypes.c_char_p * max(n_tools, 1))()
        states = np.zeros(max(self._total_limits, 1), dtype=np.uint8)
        error = ctypes.create_string_buffer(_ERROR_SIZE)
        rc = self._lib.qz417m_measure(
            self._live(), x.ctypes.data, zz.ctypes.data, x.shape[0], values.ctypes.data,
            passed.ctypes.data, reasons, states.ctypes.data, error, _ERROR_SIZE,
        )
        if rc < 0:
            raise MeasureError(_text(error.value))
        results = []
        offset = 0
        for t, info in enumerate(self.tools):
            reason = reasons[t]
            ok = reason is None
            vals = {name: float(values[t * MAX_OUTPUTS + k]) for k, (name, _) in enumerate(info.outputs)} if ok else {}
            limits = {lim.output: LIMIT_STATES[int(states[offset + k])] for k, lim in enumerate(info.limits)}
            offset += len(info.limits)
            results.append(ToolResult(info.name, ok, None if ok else _text(reason), vals, bool(passed[t]), limits))
        return Results(rc == 1, tuple(results))

    def measure_recording(
        self,
        path: Union[str, "os.PathLike[str]"],
        first: int = 0,
        count: Optional[int] = None,
        scale: Optional[Scale] = None,
    ) -> RecordingResults:
        """Measures profiles first .. first + count - 1 of a recording (all
        from first when count is None), read and decoded by the model's
        recording reader with the recording's scale unless scale is given."""
        lib = self._lib
        error = ctypes.create_string_buffer(_ERROR_SIZE)
        encoded = os.fsencode(path)
        total = lib.qz417m_recording_profiles(encoded, error, _ERROR_SIZE)
        if total < 0:
            raise MeasureError(_text(error.value))
        if first < 0 or first > total:
            raise MeasureError(f"{os.fsdecode(encoded)}: first profile {first} lies beyond its {total} profiles")
        n = total - first if count is None else int(count)
        n_tools = len(self.tools)
        values = np.empty((n, n_tools, MAX_OUTPUTS), dtype=np.float64)
        passed = np.zeros((n, n_tools), dtype=np.uint8)
        reasons = np.zeros((n, n_tools), dtype=np.uintp)
        counts = np.zeros(n, dtype=np.uint16)
        c_scale = None
        if scale is not None:
            c_scale = ctypes.pointer(_Scale(scale.range_x_emr, scale.range_z, scale.discrete_value, scale.error_value))
        done = lib.qz417m_measure_recording(
            self._live(), encoded, first, n, c_scale, values.ctypes.data, passed.ctypes.data,
            reasons.ctypes.data, counts.ctypes.data, error, _ERROR_SIZE,
        )
        if done < 0:
            raise MeasureError(_text(error.value))
        # Reasons are the library's static texts: each address read once.
        texts: Dict[int, str] = {}
        out_values: Dict[str, Dict[str, npt.NDArray[np.float64]]] = {}
        out_passed: Dict[str, npt.NDArray[np.bool_]] = {}
        out_reasons: Dict[str, List[Optional[str]]] = {}
        for t, info in enumerate(self.tools):
            out_values[info.name] = {name: values[:, t, k].copy() for k, (name, _) in enumerate(info.outputs)}
            out_passed[info.name] = passed[:, t].astype(bool)
            column: List[Optional[str]] = []
            for address in reasons[:, t].tolist():
                if address == 0:
                    column.append(None)
                else:
                    if address not in texts:
                        texts[address] = _text(ctypes.string_at(address))
                    column.append(texts[address])
            out_reasons[info.name] = column
        all_passed = passed.all(axis=1) if n_tools else np.ones(n, dtype=bool)
        return RecordingResults(first, counts, out_values, out_passed, all_passed.astype(bool), out_reasons)


@dataclass(frozen=True)
class StoredResults:
    """The results a recording stores for one job in force while it was
    recorded (docs/recording-format.md, "Measurement results").

    job: the job (None: nothing was measured from first_profile on);
    profiles: uint64 array, the profiles measured with it (indices in the
    recording); results: their values as measure_recording gives them
    (results.first is first_profile), None without a job."""

    job: Optional["Job"]
    first_profile: int
    profiles: npt.NDArray[np.uint64]
    results: Optional[RecordingResults]


_REASON_SIZE = 64


def stored_results(path: Union[str, "os.PathLike[str]"]) -> List[StoredResults]:
    """The measurement results stored in a recording, one entry per job in
    force while it was recorded (empty for a recording without results)."""
    lib = _library()
    encoded = os.fsencode(path)
    error = ctypes.create_string_buffer(_ERROR_SIZE)
    jobs = lib.qz417m_recorded_jobs(encoded, error, _ERROR_SIZE)
    if jobs < 0:
        raise MeasureError(_text(error.value))
    out: List[StoredResults] = []
    for index in range(jobs):
        first, count = _u64(), _u64()
        handle = lib.qz417m_recorded_job(encoded, index, ctypes.byref(first), ctypes.byref(count), error, _ERROR_SIZE)
        if not handle:
            if error.value:
                raise MeasureError(_text(error.value))
            out.append(StoredResults(None, int(first.value), np.zeros(0, dtype=np.uint64), None))
            continue
        job = Job(handle)
        n, n_tools = int(count.value), len(job.tools)
        profiles = np.zeros(n, dtype=np.uint64)
        counts = np.zeros(n, dtype=np.uint16)
        values = np.empty((n, n_tools, MAX_OUTPUTS), dtype=np.float64)
        passed = np.zeros((n, n_tools), dtype=np.uint8)
        reasons = np.zeros((n, n_tools, _REASON_SIZE), dtype=np.uint8)
        done = lib.qz417m_read_recorded_results(
            encoded, index, n, profiles.ctypes.data, counts.ctypes.data, values.ctypes.data,
            passed.ctypes.data, reasons.ctypes.data, error, _ERROR_SIZE,
        )
        if done < 0:
            raise MeasureError(_text(error.value))
        out_values: Dict[str, Dict[str, npt.NDArray[np.float64]]] = {}
        out_passed: Dict[str, npt.NDArray[np.bool_]] = {}
        out_reasons: Dict[str, List[Optional[str]]] = {}
        for t, info in enumerate(job.tools):
            out_values[info.name] = {name: values[:done, t, k].copy() for k, (name, _) in enumerate(info.outputs)}
            out_passed[info.name] = passed[:done, t].astype(bool)
            texts = [bytes(r).split(b"\0", 1)[0].decode() for r in reasons[:done, t]]
            out_reasons[info.name] = [x or None for x in texts]
        all_passed = passed[:done].all(axis=1) if n_tools else np.ones(done, dtype=bool)
        results = RecordingResults(int(first.value), counts[:done], out_values, out_passed,
                                   all_passed.astype(bool), out_reasons)
        out.append(StoredResults(job, int(first.value), profiles[:done], results))
    return out


def format_version() -> int:
    """The job file version the measurement library reads."""
    return int(_library().qz417m_job_format_version())


__all__ = [
    "Job",
    "JobError",
    "Limit",
    "MeasureError",
    "RecordingResults",
    "Results",
    "StoredResults",
    "ToolInfo",
    "ToolResult",
    "format_version",
    "library_path",
    "stored_results",
]
