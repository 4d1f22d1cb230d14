"""The Python classes over the C API (ctypes), and their type stubs.

Each property get_X/put_X becomes the attribute x. Each method M becomes two: m (snake case),
which raises NorvaneError when the call fails, and M itself, which returns what the C++ member
returns (a plain bool for success flags) and never raises for a failed call.
"""
import copy
import keyword

from apigen import snake
from gen_c import cname, error_macro

CT_ARG = {"cstr": ["c_char_p"], "int": ["c_int"], "long": ["c_long"], "bool": ["c_int"],
          "double": ["c_double"], "span": ["c_char_p", "c_size_t"]}
CT_OUT = {"bool": ["_PI"], "int": ["_PI"], "errcode": ["_PI"], "long": ["POINTER(c_long)"],
          "double": ["POINTER(c_double)"], "string": ["_PP"], "bytes": ["_PP", "_PS"]}
PY_ARG = {"cstr": "str | None", "int": "int", "long": "int", "bool": "bool", "double": "float",
          "span": "bytes"}
PY_RET = {"void": "None", "bool": "bool", "int": "int", "long": "int", "double": "float",
          "string": "str", "bytes": "bytes", "errcode": "ErrorCode"}


# Classes holding a counted list behave as a read-only Python sequence: len(), [index] (negative
# from the end, IndexError past either end) and iteration. (count property, item method, type)
SEQUENCES = {"EmailBundle": ("message_count", "get_email", "Email"),
             "StringArray": ("count", "get_string", "str")}


def pyname(n):
    n = snake(n)
    return n + "_" if keyword.iskeyword(n) else n


def argtypes(m):
    out = []
    for k, _ in m.args:
        out += ["c_void_p"] if ":" in k else CT_ARG[k]
    if m.ret.startswith("obj:"):
        out.append("_PP")
    elif m.ret != "void" and not m.success_flag:
        out += CT_OUT[m.ret]
    return out


def py_arg_type(k):
    return f"{k.split(':')[1]} | None" if ":" in k else PY_ARG[k]


def py_ret_type(m):
    if m.success_flag:
        return "bool"
    return f"{m.ret[4:]} | None" if m.ret.startswith("obj:") else PY_RET[m.ret]


def converted_args(m):
    out = []
    for k, n in m.args:
        n = pyname(n)
        out.append({"cstr": f"_s({n})", "span": f"*_b({n})", "bool": f"int(bool({n}))"}.get(
            k, f"_o({n})" if ":" in k else n))
    return out


def invoke(m, fn, check):
    args = ", ".join([fn, repr(m.name), str(check)] + converted_args(m))
    if m.ret == "void":
        return f"self._void({args})"
    if m.success_flag:
        return f"self._flag({args})"
    if m.ret.startswith("obj:"):
        return f"self._object({m.ret[4:]}, {args})"
    if m.ret in ("string", "bytes"):
        return f"self._{'str' if m.ret == 'string' else 'bytes'}({args})"
    ctype = {"long": "c_long", "double": "c_double"}.get(m.ret, "c_int")
    value = f"self._value({ctype}, {args})"
    return {"bool": f"bool({value})", "errcode": f"ErrorCode({value})"}.get(m.ret, value)


def docstring(doc, indent):
    if not doc:
        return []
    text = "\n".join(doc).replace("\\", "\\\\").replace('"""', "'''")
    return [f'{indent}"""' + text.replace("\n", "\n" + indent) + '"""']


def params(m, typed=True):
    ps = ["self"] + [f"{pyname(n)}: {py_arg_type(k)}" if typed else pyname(n) for k, n in m.args]
    return ", ".join(ps)


def class_code(cls, stub):
    pub, _, _, stem, desc, own, base = cls
    members = own + base
    out = [f"class {pub}(Handle):"] + docstring([desc], "    ")
    if not stub:
        out.append(f'    _stem = "{stem}"')
    getters = {m.name[4:]: m for m in members if m.name.startswith("get_") and not m.args}
    setters = {m.name[4:]: m for m in members if m.name.startswith("put_") and len(m.args) == 1}
    for prop, g in getters.items():
        fn = "_lib." + cname(stem, g)
        name = pyname(prop)
        out += ["", "    @property", f"    def {name}(self) -> {py_ret_type(g)}:"]
        out += docstring(g.doc, "        ") + ["        " + ("..." if stub else "return " + invoke(g, fn, False))]
        if prop in setters:
            s = setters[prop]
            k = s.args[0][0]
            out += [f"    @{name}.setter", f"    def {name}(self, value: {py_arg_type(k)}) -> None:"]
            renamed = copy.copy(s)
            renamed.args = [(k, "value")]
            call = invoke(renamed, "_lib." + cname(stem, s), s.success_flag)
            out.append("        " + ("..." if stub else call))
    for m in members:
        if m.is_property and (m.name[4:] in getters or m.name[4:] in setters):
            continue
        fn = "_lib." + cname(stem, m)
        ret = "None" if m.success_flag else py_ret_type(m)
        out += ["", f"    def {pyname(m.name)}({params(m)}) -> {ret}:"]
        out += docstring(m.doc, "        ")
        out.append("        " + ("..." if stub else ("" if ret == "None" else "return ") + invoke(m, fn, True)))
        out += ["", f"    def {m.name}({params(m)}) -> {py_ret_type(m)}:"]
        out.append("        " + ("..." if stub else "return " + invoke(m, fn, False)))
    return out


def sequence_code(pub, stub):
    if pub not in SEQUENCES:
        return []
    count, item, kind = SEQUENCES[pub]

    def body(*lines):
        return ["        ..."] if stub else ["        " + line for line in lines]

    out = ["", "    def __len__(self) -> int:"] + body(f"return self.{count}")
    out += ["", f"    def __getitem__(self, index: int) -> {kind}:"]
    out += body(f"n = self.{count}", "if not -n <= index < n:",
                f'    raise IndexError("{pub} index out of range")', f"return self.{item}(index % n)")
    out += ["", f"    def __iter__(self) -> Iterator[{kind}]:"]
    out += body(f"return (self.{item}(i) for i in range(self.{count}))")
    if pub == "StringArray":
        out += ["", "    @classmethod", f"    def of(cls, items: Iterable[str]) -> {pub}:",
                '        """A new array holding items, in order."""']
        out += body("array = cls()", "for text in items:", "    array.append(text)", "return array")
    return out


def module(api, codes):
    head = ['"""Generated from the library\'s own declarations; do not edit."""', "",
            "from __future__ import annotations", "", "import enum",
            "from collections.abc import Iterable, Iterator"]
    body = ["", "", "class ErrorCode(enum.IntEnum):",
            '    """The class of a failure; the values of the C API\'s NV_ERROR_... codes."""']
    body += [f"    {error_macro(n).replace('NV_ERROR_', '').replace('NV_OK', 'NONE')} = {v}"
             for n, v in codes]
    stub_body = list(body)
    py = head + ["from ctypes import POINTER, c_char_p, c_double, c_int, c_long, c_size_t, c_void_p",
                 "", "from ._runtime import Handle, b as _b, lib as _lib, o as _o, s as _s",
                 "", "_PP = POINTER(c_void_p)", "_PI = POINTER(c_int)", "_PS = POINTER(c_size_t)",
                 "_SIGNATURES = {"]
    for pub, _, _, stem, _, own, base in api:
        py.append(f'    "nv_{stem}_create": None,')
        for m in own + base:
            py.append(f'    "{cname(stem, m)}": [{", ".join(argtypes(m))}],')
    py += ["}", "for _name, _args in _SIGNATURES.items():", "    _fn = getattr(_lib, _name)",
           "    if _args is None:", "        _fn.argtypes, _fn.restype = [], c_void_p",
           "        _destroy = getattr(_lib, _name[:-6] + \"destroy\")",
           "        _destroy.argtypes, _destroy.restype = [c_void_p], None", "    else:",
           "        _fn.argtypes, _fn.restype = [c_void_p] + _args, c_int"]
    py += body
    stub = head + ["", "from ._runtime import Handle"] + stub_body
    for cls in api:
        py += ["", ""] + class_code(cls, False) + sequence_code(cls[0], False)
        stub += ["", ""] + class_code(cls, True) + sequence_code(cls[0], True)
    return "\n".join(py) + "\n", "\n".join(stub) + "\n"
