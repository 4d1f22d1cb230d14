#!/usr/bin/python3
"""Generates the built-in code page tables of the conversion engine.

Every table is derived from a published mapping installed on this machine, never typed in:

  iconv   glibc's iconv converters (through ctypes), the first choice;
  python  Python's codecs (tables generated from the vendors' published mapping files), for
          code pages glibc lacks;
  perl    Perl's Encode module (Debian's perl package), for Mac pages neither of the above has;
  icu     ICU's converter data (libicu, through ctypes), for IBM pages no other source has;
  derived a documented transformation of another source's table.

The SOURCES table below says which source each code page comes from and why. Every code page
is also compared with the other sources that know it; tools/codepages/SOURCES.md (written by
this script) lists each disagreement.

Output: src/charset/generated/CodePageTables.cpp, one text constant per table (see
src/charset/CodePageTable.h for the layout), sorted by code page.

Run with Debian's /usr/bin/python3 (or `cmake --build <dir> --target regen_codepages`).
"""

import argparse
import base64
import bz2
import ctypes
import ctypes.util
import os
import struct
import subprocess
import sys

# code page -> (source, name in that source, note)
SOURCES = {
    37: ("iconv", "IBM037", ""),
    437: ("iconv", "IBM437", ""),
    500: ("iconv", "IBM500", ""),
    708: ("iconv", "ASMO-708", "glibc's ASMO-708 is ISO-8859-6"),
    720: ("python", "cp720", "glibc has no DOS Arabic page"),
    737: ("iconv", "CP737", ""),
    775: ("iconv", "IBM775", ""),
    850: ("iconv", "IBM850", ""),
    852: ("iconv", "IBM852", ""),
    855: ("iconv", "IBM855", ""),
    857: ("iconv", "IBM857", ""),
    858: ("iconv", "IBM858", ""),
    860: ("iconv", "IBM860", ""),
    861: ("iconv", "IBM861", ""),
    862: ("iconv", "IBM862", ""),
    863: ("iconv", "IBM863", ""),
    864: ("iconv", "IBM864", ""),
    865: ("iconv", "IBM865", ""),
    866: ("iconv", "IBM866", ""),
    869: ("iconv", "IBM869", ""),
    870: ("iconv", "IBM870", ""),
    874: ("iconv", "WINDOWS-874", ""),
    875: ("iconv", "IBM875", ""),
    932: ("iconv", "CP932", ""),
    936: ("iconv", "CP936", ""),
    949: ("iconv", "CP949", ""),
    950: ("iconv", "CP950", "glibc's CP950 is an alias of BIG5"),
    1026: ("iconv", "IBM1026", ""),
    1047: ("iconv", "IBM1047", ""),
    1140: ("iconv", "IBM1140", ""),
    1141: ("iconv", "IBM1141", ""),
    1142: ("iconv", "IBM1142", ""),
    1143: ("iconv", "IBM1143", ""),
    1144: ("iconv", "IBM1144", ""),
    1145: ("iconv", "IBM1145", ""),
    1146: ("iconv", "IBM1146", ""),
    1147: ("iconv", "IBM1147", ""),
    1148: ("iconv", "IBM1148", ""),
    1149: ("iconv", "IBM1149", ""),
    1250: ("iconv", "CP1250", ""),
    1251: ("iconv", "CP1251", ""),
    1252: ("iconv", "CP1252", ""),
    1253: ("iconv", "CP1253", ""),
    1254: ("iconv", "CP1254", ""),
    1255: ("iconv", "CP1255", ""),
    1256: ("iconv", "CP1256", ""),
    1257: ("iconv", "CP1257", ""),
    1258: ("iconv", "CP1258", ""),
    1361: ("iconv", "JOHAB", ""),
    10000: ("iconv", "MACINTOSH", ""),
    10001: ("perl", "MacJapanese", "neither glibc nor Python has Mac Japanese"),
    10004: ("python", "mac_arabic", "glibc has no Mac Arabic"),
    10005: ("perl", "MacHebrew", "neither glibc nor Python has Mac Hebrew"),
    10006: ("python", "mac_greek", "glibc has no Mac Greek"),
    10007: ("iconv", "CP10007", ""),
    10010: ("python", "mac_romanian", "glibc has no Mac Romanian"),
    10017: ("iconv", "MAC-UK", ""),
    10021: ("perl", "MacThai", "neither glibc nor Python has Mac Thai"),
    10029: ("iconv", "MAC-CENTRALEUROPE", ""),
    10079: ("iconv", "MAC-IS", ""),
    10081: ("python", "mac_turkish", "glibc has no Mac Turkish"),
    10082: ("python", "mac_croatian", "glibc has no Mac Croatian"),
    20105: ("derived", "ANSI_X3.4-1968",
            "ISO 646 IRV:1983: glibc's ASCII with the currency sign at 0x24 and the overline "
            "at 0x7E; no source has this page"),
    20106: ("iconv", "DIN_66003", ""),
    20107: ("iconv", "SEN_850200_B", ""),
    20108: ("iconv", "NS_4551-1", ""),
    20127: ("iconv", "ANSI_X3.4-1968", ""),
    20261: ("iconv", "T.61-8BIT", "diacritic prefixes become two-byte codes"),
    20269: ("iconv", "ISO_6937", "diacritic prefixes become two-byte codes"),
    20273: ("iconv", "IBM273", ""),
    20277: ("iconv", "IBM277", ""),
    20278: ("iconv", "IBM278", ""),
    20280: ("iconv", "IBM280", ""),
    20284: ("iconv", "IBM284", ""),
    20285: ("iconv", "IBM285", ""),
    20290: ("iconv", "IBM290", ""),
    20297: ("iconv", "IBM297", ""),
    20420: ("iconv", "IBM420", ""),
    20423: ("iconv", "IBM423", ""),
    20424: ("iconv", "IBM424", ""),
    20838: ("icu", "ibm-838", "neither glibc nor Python has IBM Thai (838)"),
    20866: ("iconv", "KOI8-R", ""),
    20871: ("iconv", "IBM871", ""),
    20880: ("iconv", "IBM880", ""),
    20905: ("iconv", "IBM905", ""),
    20924: ("derived", "IBM1047",
            "IBM 924 is IBM 1047's layout with the ISO-8859-15 repertoire: each glibc IBM1047 "
            "character is replaced by the ISO-8859-15 character at its Latin-1 position; no "
            "source on the machine has 924"),
    21025: ("iconv", "IBM1025", ""),
    21866: ("iconv", "KOI8-U", ""),
    28591: ("iconv", "ISO-8859-1", ""),
    28592: ("iconv", "ISO-8859-2", ""),
    28593: ("iconv", "ISO-8859-3", ""),
    28594: ("iconv", "ISO-8859-4", ""),
    28595: ("iconv", "ISO-8859-5", ""),
    28596: ("iconv", "ISO-8859-6", ""),
    28597: ("iconv", "ISO-8859-7", ""),
    28598: ("iconv", "ISO-8859-8", ""),
    28599: ("iconv", "ISO-8859-9", ""),
    28603: ("iconv", "ISO-8859-13", ""),
    28605: ("iconv", "ISO-8859-15", ""),
    51932: ("iconv", "EUC-JP", "three-byte JIS X 0212 codes (0x8F lead) are left out"),
    51936: ("iconv", "EUC-CN", ""),
    51949: ("iconv", "EUC-KR", ""),
}

# Code pages that share another's table.
ALIASES = {38598: 28598}

# Other sources compared with each code page's own (the first that knows the page is used).
CROSS = {
    37: [("python", "cp037")], 437: [("python", "cp437")], 500: [("python", "cp500")],
    708: [("icu", "windows-708")],
    720: [("icu", "ibm-720")], 737: [("python", "cp737")], 775: [("python", "cp775")],
    850: [("python", "cp850")], 852: [("python", "cp852")], 855: [("python", "cp855")],
    857: [("python", "cp857")], 858: [("python", "cp858")], 860: [("python", "cp860")],
    861: [("python", "cp861")], 862: [("python", "cp862")], 863: [("python", "cp863")],
    864: [("python", "cp864")], 865: [("python", "cp865")], 866: [("python", "cp866")],
    869: [("python", "cp869")], 870: [("icu", "ibm-870")], 874: [("python", "cp874")],
    875: [("python", "cp875")], 932: [("python", "cp932")], 936: [("python", "cp936")],
    949: [("python", "cp949")], 950: [("python", "cp950")], 1026: [("python", "cp1026")],
    1047: [("perl", "cp1047")], 1140: [("python", "cp1140")],
    1250: [("python", "cp1250")], 1251: [("python", "cp1251")], 1252: [("python", "cp1252")],
    1253: [("python", "cp1253")], 1254: [("python", "cp1254")], 1255: [("python", "cp1255")],
    1256: [("python", "cp1256")], 1257: [("python", "cp1257")], 1258: [("python", "cp1258")],
    1361: [("python", "johab")], 10000: [("python", "mac_roman")],
    10001: [("python", "shift_jis")],
    10004: [("perl", "MacArabic")], 10005: [("icu", "x-mac-hebrew")],
    10006: [("perl", "MacGreek")], 10007: [("python", "mac_cyrillic")],
    10010: [("perl", "MacRomanian")], 10017: [("perl", "MacUkrainian")],
    10021: [("icu", "x-mac-thai")],
    10029: [("python", "mac_latin2")], 10079: [("python", "mac_iceland")],
    10081: [("perl", "MacTurkish")], 10082: [("perl", "MacCroatian")],
    20127: [("python", "ascii")], 20273: [("python", "cp273")], 20424: [("python", "cp424")],
    20866: [("python", "koi8_r")], 21866: [("python", "koi8_u")],
    28591: [("python", "latin_1")], 28592: [("python", "iso8859_2")],
    28593: [("python", "iso8859_3")], 28594: [("python", "iso8859_4")],
    28595: [("python", "iso8859_5")], 28596: [("python", "iso8859_6")],
    28597: [("python", "iso8859_7")], 28598: [("python", "iso8859_8")],
    28599: [("python", "iso8859_9")], 28603: [("python", "iso8859_13")],
    28605: [("python", "iso8859_15")], 51932: [("python", "euc_jp")],
    51936: [("python", "gb2312")], 51949: [("python", "euc_kr")],
    20838: [("iconv", "IBM1160")], 20924: [("icu", "ibm-924")],
}


# --- sources ------------------------------------------------------------------------------

class IconvSource:
    """glibc iconv through ctypes: one converter each way, reset before every code."""

    def __init__(self, name):
        libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self._open = libc.iconv_open
        self._open.restype = ctypes.c_void_p
        self._open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self._iconv = libc.iconv
        self._iconv.restype = ctypes.c_size_t
        self._iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p),
                                ctypes.POINTER(ctypes.c_size_t),
                                ctypes.POINTER(ctypes.c_char_p),
                                ctypes.POINTER(ctypes.c_size_t)]
        self._dec = self._open(b"UTF-16LE", name.encode())
        self._enc = self._open(name.encode(), b"UTF-16LE")
        if self._dec in (None, ctypes.c_void_p(-1).value):
            raise LookupError(name)

    def _run(self, cd, data):
        self._iconv(cd, None, None, None, None)
        inbuf = ctypes.create_string_buffer(data, len(data))
        outbuf = ctypes.create_string_buffer(64)
        inp = ctypes.c_char_p(ctypes.addressof(inbuf))
        outp = ctypes.c_char_p(ctypes.addressof(outbuf))
        inleft = ctypes.c_size_t(len(data))
        outleft = ctypes.c_size_t(64)
        r = self._iconv(cd, ctypes.byref(inp), ctypes.byref(inleft), ctypes.byref(outp),
                        ctypes.byref(outleft))
        if r == ctypes.c_size_t(-1).value or inleft.value != 0:
            return None
        # Flush a stateful encoder's shift sequence.
        self._iconv(cd, None, None, ctypes.byref(outp), ctypes.byref(outleft))
        return outbuf.raw[:64 - outleft.value]

    def decode(self, data):
        out = self._run(self._dec, data)
        return None if out is None else out.decode("utf-16le", "surrogatepass")

    def encode(self, text):
        return self._run(self._enc, text.encode("utf-16le", "surrogatepass"))


class PythonSource:
    def __init__(self, name):
        import codecs
        codecs.lookup(name)
        self.name = name

    def decode(self, data):
        try:
            return data.decode(self.name)
        except UnicodeDecodeError:
            return None

    def encode(self, text):
        try:
            return text.encode(self.name)
        except UnicodeEncodeError:
            return None


class IcuSource:
    """ICU's converters through ctypes (ucnv_toUChars / ucnv_fromUChars)."""

    def __init__(self, name):
        path = ctypes.util.find_library("icuuc")
        if not path:
            raise LookupError("libicu")
        lib = ctypes.CDLL(path)
        version = path.rsplit(".so.", 1)[-1].split(".")[0] if ".so." in path else ""
        if not version:
            for v in range(80, 50, -1):
                if hasattr(lib, "ucnv_open_%d" % v):
                    version = str(v)
                    break
        sym = lambda n: getattr(lib, "%s_%s" % (n, version))
        self._open = sym("ucnv_open")
        self._open.restype = ctypes.c_void_p
        self._open.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int)]
        err = ctypes.c_int(0)
        self._cnv = self._open(name.encode(), ctypes.byref(err))
        if not self._cnv or err.value > 0:
            raise LookupError(name)
        self._to = sym("ucnv_toUChars")
        self._to.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p,
                             ctypes.c_int, ctypes.POINTER(ctypes.c_int)]
        self._from = sym("ucnv_fromUChars")
        self._from.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p,
                               ctypes.c_int, ctypes.POINTER(ctypes.c_int)]
        # Unmapped input must fail rather than turn into substitution characters.
        for setter, stop in (("ucnv_setToUCallBack", "UCNV_TO_U_CALLBACK_STOP"),
                             ("ucnv_setFromUCallBack", "UCNV_FROM_U_CALLBACK_STOP")):
            fn = sym(setter)
            fn.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p,
                           ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
            err = ctypes.c_int(0)
            fn(self._cnv, ctypes.cast(sym(stop), ctypes.c_void_p), None, None, None,
               ctypes.byref(err))

    def decode(self, data):
        buf = ctypes.create_string_buffer(64)
        err = ctypes.c_int(0)
        n = self._to(self._cnv, buf, 32, data, len(data), ctypes.byref(err))
        if err.value > 0:
            return None
        return buf.raw[:2 * n].decode("utf-16le", "surrogatepass")

    def encode(self, text):
        u = text.encode("utf-16le", "surrogatepass")
        buf = ctypes.create_string_buffer(16)
        err = ctypes.c_int(0)
        n = self._from(self._cnv, buf, 16, u, len(u) // 2, ctypes.byref(err))
        return None if err.value > 0 else buf.raw[:n]


class PerlSource:
    """Perl's Encode, asked once for every single byte and every pair."""

    SCRIPT = r'''
use Encode;
my $enc = find_encoding($ARGV[0]) or die "unknown encoding";
for my $b (0..255) {
  my $s = chr($b); my $u = $enc->decode($s, Encode::FB_QUIET);
  if (length($s) == 0 && length($u) == 1) { printf "%02X %04X\n", $b, ord($u); next; }
  for my $t (0..255) {
    my $p = chr($b).chr($t); my $v = $enc->decode($p, Encode::FB_QUIET);
    printf "%02X%02X %04X\n", $b, $t, ord($v) if length($p) == 0 && length($v) == 1;
  }
}
for my $c (0..0xFFFF) {
  next if $c >= 0xD800 && $c <= 0xDFFF;
  my $u = chr($c); my $e = $enc->encode($u, Encode::FB_QUIET);
  printf "U%04X %s\n", $c, unpack("H*", $e) if length($u) == 0 && length($e) > 0;
}
'''

    def __init__(self, name):
        out = subprocess.run(["perl", "-e", self.SCRIPT, name], check=True,
                             capture_output=True, text=True).stdout
        self.dec = {}
        self.enc = {}
        for line in out.splitlines():
            k, v = line.split(" ")
            if k.startswith("U"):
                self.enc[chr(int(k[1:], 16))] = bytes.fromhex(v)
            else:
                self.dec[bytes.fromhex(k)] = chr(int(v, 16))

    def decode(self, data):
        return self.dec.get(data)

    def encode(self, text):
        return self.enc.get(text)


def open_source(kind, name):
    return {"iconv": IconvSource, "python": PythonSource, "icu": IcuSource,
            "perl": PerlSource, "derived": IconvSource}[kind](name)


# --- reading a code page ------------------------------------------------------------------

def single_char(s):
    """The BMP code unit of a one-character string, else None."""
    if s is None or len(s) != 1 or ord(s) > 0xFFFF or 0xD800 <= ord(s) <= 0xDFFF:
        return None
    if s == "\ufffd":  # a source's replacement character is not a mapping
        return None
    return ord(s)


def read_mapping(src):
    """code -> UTF-16 unit for every byte and two-byte code the source decodes to one
    character. Codes above 0xFF are lead << 8 | trail."""
    mapping = {}
    for b in range(256):
        u = single_char(src.decode(bytes([b])))
        if u is not None:
            mapping[b] = u
            continue
        for t in range(256):
            u = single_char(src.decode(bytes([b, t])))
            if u is not None:
                mapping[(b << 8) | t] = u
    return mapping


def derive(cp, mapping):
    if cp == 20105:
        mapping = dict(mapping)
        mapping[0x24] = 0x00A4
        mapping[0x7E] = 0x203E
    elif cp == 20924:
        mapping = {c: (ord(bytes([u]).decode("iso8859_15")) if u < 0x100 else u)
                   for c, u in mapping.items()}
    return mapping


def duplicates(src, mapping, derived):
    """Codes that decode to a character another code is written for."""
    by_unit = {}
    for c, u in sorted(mapping.items()):
        by_unit.setdefault(u, []).append(c)
    dups = []
    for u, codes in by_unit.items():
        if len(codes) < 2:
            continue
        chosen = codes[0]
        enc = None if derived else src.encode(chr(u))
        if enc is not None and 1 <= len(enc) <= 2:
            code = enc[0] if len(enc) == 1 else (enc[0] << 8) | enc[1]
            if code in codes:
                chosen = code
        dups.extend(c for c in codes if c != chosen)
    return sorted(dups)


# --- writing a table ----------------------------------------------------------------------

def pack(mapping, dups):
    ascii_based = all(mapping.get(b) == b for b in range(1, 0x80)) and mapping.get(0) == 0
    pairs = {c: u for c, u in mapping.items() if c > 0xFF}
    leads = sorted({c >> 8 for c in pairs})
    if ascii_based and any(l < 0x80 for l in leads):
        ascii_based = False
    out = bytearray(b"a" if ascii_based else b"n")
    out += b"d" if pairs else b"u"
    for b in range(0x80 if ascii_based else 0, 256):
        out += struct.pack("<H", mapping.get(b, 0) if b not in leads else 0)
    if pairs:
        trails = {c & 0xFF for c in pairs}
        for bits in (set(leads), trails):
            bm = bytearray(32)
            for b in bits:
                bm[b >> 3] |= 1 << (b & 7)
            out += bm
        for lead in leads:
            row = sorted(c & 0xFF for c in pairs if c >> 8 == lead)
            first, last = row[0], row[-1]
            out += struct.pack("<BH", first, last - first + 1)
            prev = 0
            for t in range(first, last + 1):
                u = pairs.get((lead << 8) | t, 0)
                out += struct.pack("<H", (u - prev) & 0xFFFF if u else (-prev) & 0xFFFF)
                if u:
                    prev = u
    out += struct.pack("<H", len(dups))
    for c in dups:
        out += struct.pack("<H", c)
    return bytes(out)


def text_constant(data):
    packed = b"NVCT" + struct.pack("<I", len(data)) + bz2.compress(data, 9)
    if len(packed) < len(data):
        return "z" + base64.b64encode(packed).decode()
    return "x" + base64.b64encode(data).decode()


def cxx_pieces(name, text):
    # Adjacent literals of one line each, one array element per 16 KB piece: far below every
    # compiler's literal limit.
    lines = ["const char* const %s[] = {" % name]
    for i in range(0, len(text), 16384):
        piece = text[i:i + 16384]
        for k in range(0, len(piece), 96):
            lines.append('    "%s"' % piece[k:k + 96])
        lines[-1] += ","
    lines.append("    nullptr};")
    return lines


# --- comparing sources --------------------------------------------------------------------

def compare(mapping, other):
    differ = sorted(c for c in mapping if c in other and other[c] != mapping[c])
    only_ours = sorted(c for c in mapping if c not in other)
    only_theirs = sorted(c for c in other if c not in mapping)
    return differ, only_ours, only_theirs


def fmt_codes(codes, mapping, other):
    def one(c):
        a = "U+%04X" % mapping[c] if c in mapping else "-"
        b = "U+%04X" % other[c] if c in other else "-"
        return "%X:%s/%s" % (c, a, b)
    shown = ", ".join(one(c) for c in codes[:6])
    return shown + (", ..." if len(codes) > 6 else "")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", required=True, help="the generated/ folder")
    ap.add_argument("--report", required=True, help="SOURCES.md to write")
    ap.add_argument("--only", type=int, nargs="*", help="code pages to print, for debugging")
    args = ap.parse_args()

    blobs = {}
    report = ["# Sources of the built-in code page tables", "",
              "Written by gen_codepages.py; do not edit. Codes are hexadecimal; "
              "`code:ours/theirs`, `-` = unmapped.", "",
              "| Code page | Source | Codes | Duplicates | Compared with | Differ | "
              "Only ours | Only theirs | Notes |",
              "|---|---|---|---|---|---|---|---|---|"]
    details = ["", "## Disagreements", ""]
    for cp in sorted(SOURCES):
        if args.only and cp not in args.only:
            continue
        kind, name, note = SOURCES[cp]
        src = open_source(kind, name)
        mapping = derive(cp, read_mapping(src))
        if mapping.get(0) != 0:
            sys.exit("code page %d: byte 0 is not U+0000" % cp)
        dups = duplicates(src, mapping, kind == "derived")
        blobs[cp] = text_constant(pack(mapping, dups))
        cross = "-"
        cols = ["-", "-", "-"]
        for okind, oname in CROSS.get(cp, []):
            try:
                other = read_mapping(open_source(okind, oname))
            except (LookupError, OSError, subprocess.CalledProcessError):
                continue
            if len(other) < 64:  # a source that knows the name but not the table
                continue
            differ, mine, theirs = compare(mapping, other)
            cross = "%s %s" % (okind, oname)
            cols = [str(len(differ)), str(len(mine)), str(len(theirs))]
            if differ or mine or theirs:
                details.append("- **%d** (%s %s vs %s %s):" % (cp, kind, name, okind, oname))
                for label, codes in (("differ", differ), ("only ours", mine),
                                     ("only theirs", theirs)):
                    if codes:
                        details.append("  %s %d: %s" % (label, len(codes),
                                                          fmt_codes(codes, mapping, other)))
            break
        report.append("| %d | %s %s | %d | %d | %s | %s | %s | %s | %s |" % (
            cp, kind, name, len(mapping), len(dups), cross, cols[0], cols[1], cols[2], note))
        print("%5d %-8s %-18s %5d codes, %3d duplicates, %6d chars" % (
            cp, kind, name, len(mapping), len(dups), len(blobs[cp])), file=sys.stderr)
    if args.only:
        return
    for alias, target in ALIASES.items():
        report.append("| %d | same table as %d | | | | | | | |" % (alias, target))

    lines = ["// Generated by tools/codepages/gen_codepages.py from the mappings installed on the",
             "// build machine; do not edit. Sources per code page: tools/codepages/SOURCES.md.",
             '#include "charset/generated/CodePageData.h"', "", "namespace norvane {", "",
             "namespace {", ""]
    for cp in sorted(blobs):
        lines += cxx_pieces("kTable%d" % cp, blobs[cp])
        lines.append("")
    lines += ["} // namespace", "", "const CodePageBlob kCodePageBlobs[] = {"]
    for cp in sorted(list(blobs) + list(ALIASES)):
        lines.append("    {%d, kTable%d}," % (cp, ALIASES.get(cp, cp)))
    lines += ["};", "const size_t kCodePageBlobCount = sizeof(kCodePageBlobs) / "
              "sizeof(kCodePageBlobs[0]);", "", "} // namespace norvane", ""]
    with open(os.path.join(args.out, "CodePageTables.cpp"), "w") as f:
        f.write("\n".join(lines))
    with open(args.report, "w") as f:
        f.write("\n".join(report + details) + "\n")


if __name__ == "__main__":
    main()
