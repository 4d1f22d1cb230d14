"""The C API: norvane.h and the functions behind it, each calling one C++ member."""
from apigen import snake

C_ARG = {"cstr": ["const char* {n}"], "int": ["int {n}"], "long": ["long {n}"],
         "bool": ["int {n}"], "double": ["double {n}"],
         "span": ["const uint8_t* {n}", "size_t {n}_size"]}
C_OUT = {"bool": ["int* result"], "int": ["int* result"], "long": ["long* result"],
         "double": ["double* result"], "errcode": ["int* result"], "string": ["char** result"],
         "bytes": ["uint8_t** result", "size_t* result_size"]}


def cname(stem, member):
    # An indexed method named like a property ("GetSignerTrusted(index)" beside
    # "get_SignerTrusted") takes "_at".
    name = snake(member.name)
    if getattr(member, "shadows_property", False):
        name += "_at"
    return f"nv_{stem}_{name}"


def handle(pub):
    from apigen import STEM_OF
    return f"nv_{STEM_OF[pub]}"


def c_params(m):
    params = []
    for k, n in m.args:
        n = snake(n)
        if k.startswith(("obj:", "cobj:")):
            const = "const " if k.startswith("cobj:") else ""
            params.append(f"{const}{handle(k.split(':')[1])}* {n}")
        else:
            params += [p.format(n=n) for p in C_ARG[k]]
    if m.ret.startswith("obj:"):
        params.append(f"{handle(m.ret[4:])}** result")
    elif m.ret != "void" and not m.success_flag:
        params += C_OUT[m.ret]
    return params


def prototype(stem, pub, m):
    params = ", ".join([f"{handle(pub)}* h"] + c_params(m))
    return f"int {cname(stem, m)}({params})"


def error_macro(name):
    return "NV_OK" if name == "None" else "NV_ERROR_" + snake(name).upper()


def header(api, codes):
    out = ["/* The C API of Norvane Mail. Generated from the library's own declarations; do not",
           "   edit.", "",
           "   Every class is an opaque handle made with nv_<class>_create and released with",
           "   nv_<class>_destroy (a null handle is ignored). Every member is a function that",
           "   returns NV_OK (0) or the error class of its failure, with any result in its last",
           "   parameters, which may be null when the result is not wanted. A null handle gives",
           "   NV_ERROR_BAD_ARGUMENT and touches nothing. Strings are NUL-terminated UTF-8; a",
           "   null string argument reads as empty unless the member says otherwise. Strings and",
           "   byte arrays returned are new allocations released with nv_free. Objects returned",
           "   are new handles the caller destroys; they are null on failure. The activity log of",
           "   the last call is read with nv_<class>_get_last_error_text. */", "",
           "#ifndef NORVANE_NORVANE_H", "#define NORVANE_NORVANE_H", "",
           '#include "norvane/Export.h"', "", "#include <stddef.h>", "#include <stdint.h>", "",
           "#ifdef __cplusplus", 'extern "C" {', "#endif", "",
           "/* Error classes: the values of norvane::ErrorCode. */", "enum nv_error {"]
    out += [f"    {error_macro(n)} = {v}," for n, v in codes]
    out += ["};", "",
            "/* The name of an error class (\"RecipientRefused\"); \"Unknown\" otherwise. */",
            "NORVANE_API const char* nv_error_name(int code);",
            "/* Releases a string or byte array the library returned; null is ignored. */",
            "NORVANE_API void nv_free(void* p);", ""]
    out += [f"typedef struct {handle(c[0])} {handle(c[0])};" for c in api]
    for pub, _, _, stem, desc, own, base in api:
        out += ["", f"/* ---- {pub}: {desc} ---- */", "",
                f"NORVANE_API {handle(pub)}* nv_{stem}_create(void);",
                f"NORVANE_API void nv_{stem}_destroy({handle(pub)}* h);"]
        for m in own + base:
            if m.doc:
                out += ["/* " + "\n   ".join(m.doc) + " */"]
            out.append(f"NORVANE_API {prototype(stem, pub, m)};")
    out += ["", "#ifdef __cplusplus", "}", "#endif", "", "#endif", ""]
    return "\n".join(out)


def forward_args(m):
    out = []
    for k, n in m.args:
        n = snake(n)
        if k.startswith(("obj:", "cobj:")):
            out.append(f"capi::object<{k.split(':')[1]}>({n})")
        elif k == "span":
            out.append(f"std::span<const uint8_t>({n}, {n}_size)")
        elif k == "bool":
            out.append(f"{n} != 0")
        else:
            out.append(n)
    return ", ".join(out)


def function(stem, pub, m, is_base):
    call = f"o.{m.name}({forward_args(m)})"
    method = not is_base and (not m.is_property or m.success_flag)
    code = "capi::code(o)" if method else "NV_OK"
    checks = [f"        if (!{snake(n)} && {snake(n)}_size)\n"
              "            return NV_ERROR_BAD_ARGUMENT;" for k, n in m.args if k == "span"]
    # The member runs in a statement of its own: read in the same expression, the error code
    # could be evaluated before the call and report the previous one.
    if m.ret == "void" or m.success_flag:
        action = [f"        {call};", f"        return {code};"]
        outs = ""
    elif m.ret.startswith("obj:"):
        action = [f"        auto value = {call};",
                  f"        return capi::finish(capi::store(std::move(value), result), {code});"]
        outs = "result"
    elif m.ret == "bytes":
        action = [f"        const auto value = {call};",
                  f"        return capi::finish(capi::store(value, result, result_size), {code});"]
        outs = "result, result_size"
    else:
        conv = "static_cast<int>" if m.ret == "errcode" else ""
        action = [f"        const auto value = {conv}({call});",
                  f"        return capi::finish(capi::store(value, result), {code});"]
        outs = "result"
    lines = [prototype(stem, pub, m) + " {"]
    if outs:
        lines.append(f"    capi::clear({outs});")
    lines += [f"    return capi::call<{pub}>(h, [&]({pub}& o) -> int {{"] + checks + action + ["    });", "}"]
    return "\n".join(lines)


def source(api):
    out = ["// Generated from the library's own declarations; do not edit.", "",
           '#include "norvane/norvane.h"', ""]
    out += [f'#include "norvane/{c[0]}.h"' for c in api]
    out += ['#include "binding/CApiSupport.h"', "", "#include <utility>", "",
            "using namespace norvane;", "",
            'extern "C" {', ""]
    for pub, _, _, stem, _, own, base in api:
        out += [f"NORVANE_API {handle(pub)}* nv_{stem}_create(void) {{",
                f"    return capi::create<{pub}, {handle(pub)}>();", "}", "",
                f"NORVANE_API void nv_{stem}_destroy({handle(pub)}* h) {{",
                f"    capi::destroy<{pub}>(h);", "}", ""]
        for m in own + base:
            out += ["NORVANE_API " + function(stem, pub, m, m in base), ""]
    out += ['} // extern "C"', ""]
    return "\n".join(out)


def check_names(api):
    """Stops the generation when two members would get the same C function name."""
    names = ["nv_error_name", "nv_free"]
    for pub, _, _, stem, _, own, base in api:
        names += [f"nv_{stem}_create", f"nv_{stem}_destroy"]
        names += [cname(stem, m) for m in own + base]
    if len(set(names)) != len(names):
        dup = sorted({n for n in names if names.count(n) > 1})
        raise SystemExit(f"apigen: C names collide: {dup}")


# ---- the check program: every function with a null handle, then with live handles and null or
# empty arguments; run under AddressSanitizer it is also the leak check of every class ----

C_SENTINEL = {"char**": "(char*)&failures", "uint8_t**": "(uint8_t*)&failures",
              "size_t*": "7", "int*": "7", "long*": "7", "double*": "7"}


def out_decls(m):
    """(declaration, argument, check of cleared, release) for each out-parameter."""
    out = []
    for p in c_params(m)[len(c_params_in(m)):]:
        ptype, name = p.rsplit(" ", 1)
        base = ptype[:-1]
        init = C_SENTINEL.get(ptype, f"({base})&failures")
        release = ""
        if ptype in ("char**", "uint8_t**"):
            release = f"nv_free({name});"
        elif ptype.endswith("**"):
            release = f"{ptype[:-2]}_destroy({name});"
        out.append((f"{base} {name} = {init};", "&" + name, f"{name} == 0", release))
    return out


def c_params_in(m):
    n = 0
    for k, _ in m.args:
        n += 2 if k == "span" else 1
    return c_params(m)[:n]


def in_values(m, text):
    out = []
    for k, n in m.args:
        out += {"cstr": [text], "span": ["NULL", "0"]}.get(k, ["0"] if ":" not in k else ["NULL"])
    return out


def check_call(stem, pub, m, handle_expr, text, null_handle):
    outs = out_decls(m)
    args = ", ".join([handle_expr] + in_values(m, text) + [o[1] for o in outs])
    lines = ["    {"] + [f"        {o[0]}" for o in outs]
    lines.append(f"        int rc = {cname(stem, m)}({args});")
    if null_handle:
        cleared = " && ".join(["rc == NV_ERROR_BAD_ARGUMENT"] + [o[2] for o in outs])
        lines.append(f'        check({cleared}, "{cname(stem, m)}");')
    else:
        valid = ["rc >= NV_OK", "rc <= NV_ERROR_BAD_DATA"]
        # Strings and byte arrays always come back as something to release, even when empty.
        valid += [o[2].replace("== 0", "!= 0") for o in outs if "nv_free" in o[3]]
        lines.append(f'        check({" && ".join(valid)}, "{cname(stem, m)}");')
        lines += [f"        {o[3]}" for o in outs if o[3]]
    return lines + ["    }"]


def check_program(api):
    out = ["/* Generated check of the C API; do not edit. */", "",
           '#include "norvane/norvane.h"', "", "#include <stdio.h>", "",
           "static int failures;", "",
           "static void check(int ok, const char* what) {", "    if (!ok) {",
           '        fprintf(stderr, "failed: %s\\n", what);', "        ++failures;", "    }", "}",
           "", "static void nullHandles(void) {"]
    for pub, _, _, stem, _, own, base in api:
        out.append(f"    nv_{stem}_destroy(NULL);")
        for m in own + base:
            out += check_call(stem, pub, m, "NULL", "NULL", True)
    out += ["}", "", "static void liveHandles(const char* text) {"]
    for pub, _, _, stem, _, _, _ in api:
        out.append(f"    {handle(pub)}* h_{stem} = nv_{stem}_create();")
        out.append(f'    check(h_{stem} != NULL, "nv_{stem}_create");')
    for pub, _, _, stem, _, own, base in api:
        for m in own + base:
            out += check_call(stem, pub, m, f"h_{stem}", "text", False)
    out += [f"    nv_{c[3]}_destroy(h_{c[3]});" for c in api]
    out += ["}", "", "int main(void) {", "    nullHandles();", "    liveHandles(NULL);",
            '    liveHandles("");', "    return failures ? 1 : 0;", "}", ""]
    return "\n".join(out)
