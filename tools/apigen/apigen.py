#!/usr/bin/env python3
"""Generates the public interfaces from the façade headers.

The façade classes under src/facade are the one description of what callers may do. This
program reads their public members and writes, under the output folder:

  include/norvane/<Class>.h   the installed C++ classes, each owning its façade object
  include/norvane/norvane.h   the C API: opaque handles, one function per member
  binding/<Class>Api.cpp      the C++ classes' members, each forwarding to one façade member
  binding/CApi.cpp            the C functions, each calling one C++ member
  check/capi_check.c          a C program calling every C function with null and live handles
  python/norvane/_generated.py and .pyi   the Python classes over the C API (ctypes)

A member is public when it sits in the class's public section, its name starts with a capital
letter or get_/put_, and it is not listed in SKIP. A public member with a type this program
cannot map is an error, so nothing vanishes from the interfaces unnoticed.

    apigen.py SOURCE_DIR OUTPUT_DIR
"""
import pathlib
import re
import sys

# (public name, façade class, header, C and Python stem, one-line description)
CLASSES = [
    ("StringArray", "ClsStringArray", "ClsStringArray.h", "string_array",
     "An ordered list of strings: UIDL lists, linked domains, distribution lists."),
    ("Mime", "ClsMime", "ClsMime.h", "mime",
     "A holder of one message's MIME text, exchanged with an e-mail."),
    ("Cert", "ClsCert", "ClsCert.h", "cert",
     "A certificate, exchanged with an e-mail in its encoded form (base64 of the DER)."),
    ("Csp", "ClsCSP", "ClsCSP.h", "csp",
     "The cryptographic provider and algorithms an e-mail signs and encrypts with."),
    ("Email", "ClsEmail", "ClsEmail.h", "email",
     "An e-mail: compose, render, parse, attachments, related items, bodies, S/MIME, XML."),
    ("EmailBundle", "ClsEmailBundle", "ClsEmailBundle.h", "bundle",
     "An ordered collection of e-mails that can be sorted and saved and loaded as XML."),
    ("MailMan", "ClsMailMan", "ClsMailMan.h", "mailman",
     "Sends e-mails over SMTP and receives them over POP3."),
]
PUBLIC_OF = {c[1]: c[0] for c in CLASSES}
STEM_OF = {c[0]: c[3] for c in CLASSES}

# Capitalised members that serve in-process peers or callbacks, not callers.
SKIP = {"GetImpl", "PercentDone", "AbortCheck"}

# Bool members whose result is a value, not a success flag.
VALUE_BOOL = re.compile(r"^(get_|Has|Is|Get)")


class Member:
    def __init__(self, name, ret, args, const, static, doc, section):
        self.name, self.ret, self.args = name, ret, args
        self.const, self.static, self.doc, self.section = const, static, doc, section

    @property
    def is_property(self):
        return self.name.startswith(("get_", "put_"))

    @property
    def success_flag(self):
        return self.ret == "bool" and not VALUE_BOOL.match(self.name)


def fail(msg):
    sys.exit(f"apigen: {msg}")


def ret_kind(t, where):
    t = t.replace("[[nodiscard]]", "").strip()
    simple = {"void": "void", "bool": "bool", "int": "int", "long": "long", "double": "double",
              "std::string": "string", "DataBuffer": "bytes", "ErrorCode": "errcode"}
    if t in simple:
        return simple[t]
    m = re.fullmatch(r"std::unique_ptr<(\w+)>", t)
    if m and m.group(1) in PUBLIC_OF:
        return "obj:" + PUBLIC_OF[m.group(1)]
    fail(f"{where}: no public form for the result type '{t}'")


def arg_kind(t, where):
    t = " ".join(t.split())
    simple = {"const char*": "cstr", "int": "int", "long": "long", "bool": "bool",
              "double": "double", "std::span<const uint8_t>": "span"}
    if t in simple:
        return simple[t]
    m = re.fullmatch(r"(const )?(\w+)\*", t)
    if m and m.group(2) in PUBLIC_OF:
        return ("cobj:" if m.group(1) else "obj:") + PUBLIC_OF[m.group(2)]
    fail(f"{where}: no public form for the argument type '{t}'")


def statements(body):
    """Yields (text, doc lines, section) for each declaration of a class body's public part."""
    doc, section, buf, depth = [], "", "", 0
    for line in body.splitlines():
        s = line.strip()
        if depth == 0 and not buf:
            if s.startswith("// ----"):
                section = re.sub(r"\s*\([\w. ,]+\.cpp\)", "", s.strip("/- ")).strip(" -")
                doc = []
                continue
            if s.startswith("//"):
                doc.append(s[3:] if s.startswith("// ") else s[2:])
                continue
            if not s:
                doc = []
                continue
        code = re.sub(r"//.*", "", line)
        for ch in code:
            buf += ch
            if ch == "{":
                depth += 1
            elif ch == "}":
                depth -= 1
                if depth == 0:
                    yield buf, doc, section
                    buf, doc = "", []
            elif ch == ";" and depth == 0:
                yield buf, doc, section
                buf, doc = "", []
        buf += " " if buf else ""


def public_part(text, cls):
    m = re.search(r"\bclass %s\b[^{;]*\{" % cls, text)
    if not m:
        fail(f"class {cls} not found")
    start, depth, i = m.end(), 1, m.end()
    while depth:
        depth += {"{": 1, "}": -1}.get(text[i], 0)
        i += 1
    body = text[start:i - 1]
    m = re.search(r"^\s*public:\s*$", body, re.M)
    end = re.search(r"^\s*(private|protected):\s*$", body[m.end():], re.M)
    return body[m.end():m.end() + end.start() if end else len(body)]


DECL = re.compile(r"^(?P<ret>.*?)\b(?P<name>\w+)\s*\((?P<args>.*)\)\s*(?P<quals>[^{]*)")


def parse_members(header, cls):
    members, seen = [], set()
    for text, doc, section in statements(public_part(header.read_text(), cls)):
        text = " ".join(text.split())
        m = DECL.match(re.sub(r"\{.*\}$", "", text).rstrip("; "))
        if not m:
            continue
        name = m.group("name")
        ret = m.group("ret").replace("[[nodiscard]]", "").strip()
        quals = m.group("quals")
        if (not re.match(r"^([A-Z]|get_|put_)", name) or name in SKIP or name == cls
                or "override" in quals or "= delete" in quals or ret.startswith(("virtual",))):
            continue
        if name in seen:  # a second overload: the string_view forms of const char* members
            continue
        seen.add(name)
        where = f"{cls}::{name}"
        static = ret.startswith("static ")
        ret = ret_kind(ret.replace("static ", ""), where)
        args = []
        for a in filter(None, (x.strip() for x in split_args(m.group("args")))):
            am = re.match(r"^(.*?)(\w+)$", a)
            args.append((arg_kind(am.group(1), where), am.group(2)))
        members.append(Member(name, ret, args, "const" in quals, static, doc, section))
    return members


def split_args(s):
    out, depth, cur = [], 0, ""
    for ch in s:
        depth += {"<": 1, ">": -1}.get(ch, 0)
        if ch == "," and depth == 0:
            out.append(cur)
            cur = ""
        else:
            cur += ch
    return out + [cur]


def snake(name):
    # "OAuth" is one word, not "O" and "Auth".
    name = name.replace("OAuth", "Oauth")
    name = re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name)
    name = re.sub(r"(?<=[A-Z])(?=[A-Z][a-z])", "_", name)
    return name.lower()


def error_codes(src):
    text = (src / "include/norvane/Error.h").read_text()
    body = re.search(r"enum class ErrorCode : int \{(.*?)\};", text, re.S).group(1)
    return [(n, int(v)) for n, v in re.findall(r"(\w+) = (\d+),", body)]


def load(src):
    base = parse_members(src / "src/facade/ClsBase.h", "ClsBase")
    api = []
    for pub, cls, header, stem, desc in CLASSES:
        own = parse_members(src / "src/facade" / header, cls)
        props = {snake(m.name) for m in own if m.is_property}
        for m in own:
            m.shadows_property = not m.is_property and snake(m.name) in props
        api.append((pub, cls, header, stem, desc, own, base))
    return api


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)


def main():
    src, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    sys.path.insert(0, str(pathlib.Path(__file__).parent))
    import gen_c
    import gen_cpp
    import gen_python

    api = load(src)
    codes = error_codes(src)
    for cls in api:
        write(out / f"include/norvane/{cls[0]}.h", gen_cpp.header(cls))
        write(out / f"binding/{cls[0]}Api.cpp", gen_cpp.source(cls))
    gen_c.check_names(api)
    write(out / "include/norvane/norvane.h", gen_c.header(api, codes))
    write(out / "binding/CApi.cpp", gen_c.source(api))
    write(out / "check/capi_check.c", gen_c.check_program(api))
    py, pyi = gen_python.module(api, codes)
    write(out / "python/norvane/_generated.py", py)
    write(out / "python/norvane/_generated.pyi", pyi)


if __name__ == "__main__":
    main()
