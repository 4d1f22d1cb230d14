"""The installed C++ classes: a header and a forwarding source per façade class."""

CPP_RET = {"void": "void", "bool": "bool", "int": "int", "long": "long", "double": "double",
           "string": "std::string", "bytes": "std::vector<uint8_t>", "errcode": "ErrorCode"}
CPP_ARG = {"cstr": "const char*", "int": "int", "long": "long", "bool": "bool",
           "double": "double", "span": "std::span<const uint8_t>"}


def ret_type(kind):
    return f"std::unique_ptr<{kind[4:]}>" if kind.startswith("obj:") else CPP_RET[kind]


def arg_type(kind):
    if kind.startswith("obj:"):
        return kind[4:] + "*"
    if kind.startswith("cobj:"):
        return f"const {kind[5:]}*"
    return CPP_ARG[kind]


def signature(m, owner=None):
    args = ", ".join(f"{arg_type(k)} {n}" for k, n in m.args)
    name = f"{owner}::{m.name}" if owner else m.name
    quals = " const" if m.const and not m.static else ""
    return f"{ret_type(m.ret)} {name}({args}){quals}"


def used_classes(members):
    used = set()
    for m in members:
        for k in [m.ret] + [k for k, _ in m.args]:
            if ":" in k:
                used.add(k.split(":")[1])
    return used


def header(cls):
    pub, impl, _, _, desc, own, base = cls
    others = sorted(used_classes(own) - {pub})
    out = ["#pragma once", "", "// Generated from the library's own declarations; do not edit.", "",
           '#include "norvane/Error.h"', '#include "norvane/Export.h"', "",
           "#include <cstdint>", "#include <memory>", "#include <span>", "#include <string>",
           "#include <vector>", "", "namespace norvane {", "", f"class {impl};"]
    out += [f"class {o};" for o in others]
    out += ["", f"// {desc}", "//",
            "// Strings are UTF-8. A const char* argument may be null (read as empty unless the",
            "// member says otherwise); byte arrays are spans in and vectors out; indexes are",
            "// 0-based; objects returned are new and owned by the caller, null on failure. A",
            "// member that does work leaves its activity log (get_LastErrorText) and, when it",
            "// fails, an error class (get_LastErrorCode). Nothing throws.",
            f"class NORVANE_API {pub} {{", "public:", f"    {pub}();", f"    ~{pub}();",
            f"    {pub}(const {pub}&) = delete;", f"    {pub}& operator=(const {pub}&) = delete;"]
    section = None
    for m in own + [b for b in base if True]:
        sec = m.section if m in own else "activity log"
        if sec != section and sec:
            out += ["", f"    // ---- {sec} ----"]
            section = sec
        out += [f"    // {d}".rstrip() for d in m.doc]
        nodiscard = "[[nodiscard]] " if m.ret not in ("void",) and not m.success_flag else ""
        static = "static " if m.static else ""
        out.append(f"    {nodiscard}{static}{signature(m)};")
    out += ["", "private:", "    friend struct ApiAccess;", f"    explicit {pub}(std::unique_ptr<{impl}> impl);",
            f"    std::unique_ptr<{impl}> impl_;", "};", "", "} // namespace norvane", ""]
    return "\n".join(out)


def call_args(m):
    out = []
    for k, n in m.args:
        out.append(f"ApiAccess::impl({n})" if ":" in k else n)
    return ", ".join(out)


def body(m, pub, impl, is_base):
    call = f"impl_->{m.name}({call_args(m)})"
    if m.static:
        return f"    return {impl}::{m.name}({call_args(m)});"
    tracked = not is_base and (not m.is_property or m.success_flag)
    if not tracked:
        return f"    {'' if m.ret == 'void' else 'return '}{call};"
    lines = ["    ApiCall call(*impl_);"]
    if m.ret == "void":
        lines.append(f"    {call};")
    elif m.success_flag:
        lines.append(f"    return call.flag({call});")
    elif m.ret.startswith("obj:"):
        lines.append(f"    return call.object<{m.ret[4:]}>({call});")
    elif m.ret == "bytes":
        lines.append(f"    return ApiCall::bytes({call});")
    else:
        lines.append(f"    return {call};")
    return "\n".join(lines)


def source(cls):
    pub, impl, header_name, _, _, own, base = cls
    others = sorted(used_classes(own) - {pub})
    from apigen import CLASSES
    cls_header = {c[0]: c[2] for c in CLASSES}
    out = ["// Generated from the library's own declarations; do not edit.", "",
           f'#include "norvane/{pub}.h"', ""]
    out += [f'#include "norvane/{o}.h"' for o in others]
    out += ['#include "binding/ApiAccess.h"', f'#include "facade/{header_name}"']
    out += [f'#include "facade/{cls_header[o]}"' for o in others]
    out += ["", "namespace norvane {", "",
            f"{pub}::{pub}() : impl_(std::make_unique<{impl}>()) {{}}",
            f"{pub}::{pub}(std::unique_ptr<{impl}> impl) : impl_(std::move(impl)) {{}}",
            f"{pub}::~{pub}() = default;", ""]
    for m in own + base:
        out += [signature(m, pub) + " {", body(m, pub, impl, m in base), "}", ""]
    out += ["} // namespace norvane", ""]
    return "\n".join(out)
