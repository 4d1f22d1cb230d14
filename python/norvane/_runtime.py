"""What every generated class stands on: the loaded library, handles and result conversion."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import pathlib
from ctypes import POINTER, byref, c_char_p, c_int, c_size_t, c_void_p
from typing import TypeVar


def _load() -> ctypes.CDLL:
    # NORVANE_LIBRARY names a library to use; otherwise the one installed with the package,
    # then the system's.
    here = pathlib.Path(__file__).parent
    candidates = [os.environ.get("NORVANE_LIBRARY")]
    candidates += [str(p) for p in sorted(here.glob("libnorvane.so*"))]
    candidates.append(ctypes.util.find_library("norvane"))
    tried = []
    for path in filter(None, candidates):
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            tried.append(f"{path}: {e}")
    raise ImportError("the norvane shared library was not found (" + "; ".join(tried) +
                      "); set NORVANE_LIBRARY to its path")


lib = _load()
lib.nv_free.argtypes, lib.nv_free.restype = [c_void_p], None
lib.nv_error_name.argtypes, lib.nv_error_name.restype = [c_int], c_char_p


class NorvaneError(Exception):
    """A member failed. Carries the member's name, the error class and the activity log."""

    def __init__(self, member: str, code: int, log: str):
        from ._generated import ErrorCode

        try:
            self.code = ErrorCode(code)
        except ValueError:
            self.code = ErrorCode.FAILED
        self.member, self.log = member, log
        super().__init__(f"{member} failed ({self.code.name}){_last_line(log)}")


def _last_line(log: str) -> str:
    # The innermost error line is usually the reason; the whole log is in .log.
    lines = [line.strip() for line in log.splitlines() if line.strip()]
    errors = [line for line in lines if not line.startswith("<")]
    return f": {errors[-1]}" if errors else ""


def s(value: str | bytes | os.PathLike | None) -> bytes | None:
    # Text the library handed out with bytes that are not UTF-8 goes back as those bytes
    # (surrogateescape both ways). A NUL would silently end the string in C, so it is refused
    # as Python's own file functions refuse it.
    if value is None:
        return None
    if isinstance(value, os.PathLike):
        value = os.fspath(value)
    data = value if isinstance(value, bytes) else str(value).encode("utf-8", "surrogateescape")
    if b"\0" in data:
        raise ValueError("embedded null character")
    return data


def b(value: bytes | bytearray | memoryview) -> tuple[bytes, int]:
    data = bytes(value)
    return data, len(data)


def o(value: Handle | None) -> int | None:
    return None if value is None else value._ptr()


def _take_string(p: c_void_p) -> str:
    if not p.value:
        return ""
    try:
        return ctypes.string_at(p.value).decode("utf-8", "surrogateescape")
    finally:
        lib.nv_free(p)


_Self = TypeVar("_Self", bound="Handle")


class Handle:
    """Owns one object of the library. close() (or leaving a with block) releases it now;
    otherwise it goes when Python collects the wrapper."""

    _stem = ""

    def __init__(self, _handle: int | None = None):
        if _handle is None:
            _handle = getattr(lib, f"nv_{self._stem}_create")()
            if not _handle:
                raise MemoryError(f"cannot create a {type(self).__name__}")
        self._h = _handle

    def close(self) -> None:
        h, self._h = getattr(self, "_h", None), None
        if h:
            getattr(lib, f"nv_{self._stem}_destroy")(h)

    def __enter__(self: _Self) -> _Self:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self):
        self.close()

    def __reduce__(self):
        # A copy would own the same object and release it a second time; Email has Clone().
        raise TypeError(f"a {type(self).__name__} cannot be copied or pickled")

    def _ptr(self) -> int:
        if not self._h:
            raise ValueError(f"the {type(self).__name__} is closed")
        return self._h

    def _done(self, rc: int, member: str, check: bool) -> None:
        if check and rc:
            log = c_void_p()
            getattr(lib, f"nv_{self._stem}_get_last_error_text")(self._h, byref(log))
            raise NorvaneError(member, rc, _take_string(log))

    def _void(self, fn, member: str, check: bool, *args) -> None:
        self._done(fn(self._ptr(), *args), member, check)

    def _flag(self, fn, member: str, check: bool, *args) -> bool:
        rc = fn(self._ptr(), *args)
        self._done(rc, member, check)
        return rc == 0

    def _value(self, ctype, fn, member: str, check: bool, *args):
        out = ctype()
        self._done(fn(self._ptr(), *args, byref(out)), member, check)
        return out.value

    def _str(self, fn, member: str, check: bool, *args) -> str:
        out = c_void_p()
        rc = fn(self._ptr(), *args, byref(out))
        text = _take_string(out)
        self._done(rc, member, check)
        return text

    def _bytes(self, fn, member: str, check: bool, *args) -> bytes:
        out, size = c_void_p(), c_size_t()
        rc = fn(self._ptr(), *args, byref(out), byref(size))
        data = ctypes.string_at(out.value, size.value) if out.value else b""
        if out.value:
            lib.nv_free(out)
        self._done(rc, member, check)
        return data

    def _object(self, cls, fn, member: str, check: bool, *args):
        out = c_void_p()
        rc = fn(self._ptr(), *args, byref(out))
        result = cls(out.value) if out.value else None
        self._done(rc, member, check)
        return result


__all__ = ["Handle", "NorvaneError", "lib", "POINTER", "c_size_t"]
