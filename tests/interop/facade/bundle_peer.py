"""Python's own zip and XML readers and writers, as an independent peer of the bundle and the
attachment archives.

  bundle_peer.py make-zip OUT         write a zip with a directory, a stored and a deflated file
  bundle_peer.py list-zip ZIP         print "name<TAB>length<TAB>sha1" per entry after testzip()
  bundle_peer.py bundle-xml FILE      print the Subject element of each <mime_message> in order
"""

import hashlib
import sys
import xml.etree.ElementTree as ET
import zipfile


def make_zip(out):
    with zipfile.ZipFile(out, "w") as z:
        z.writestr(zipfile.ZipInfo("docs/"), b"")
        z.writestr("docs/stored.txt", b"stored bytes\n", compress_type=zipfile.ZIP_STORED)
        z.writestr("deflated.txt", b"deflate me " * 500, compress_type=zipfile.ZIP_DEFLATED)


def list_zip(path):
    with zipfile.ZipFile(path) as z:
        bad = z.testzip()
        if bad is not None:
            sys.exit("corrupt entry " + bad)
        for info in z.infolist():
            data = z.read(info)
            print("%s\t%d\t%s" % (info.filename, len(data), hashlib.sha1(data).hexdigest()))


def bundle_xml(path):
    root = ET.parse(path).getroot()
    if root.tag != "email_bundle":
        sys.exit("root is " + root.tag)
    for msg in root:
        if msg.tag != "mime_message":
            sys.exit("child is " + msg.tag)
        header = msg.find("header")
        if header is None or msg.find("body") is None:
            sys.exit("message without header or body")
        print(header.findtext("subject", default=""))


if __name__ == "__main__":
    {"make-zip": make_zip, "list-zip": list_zip, "bundle-xml": bundle_xml}[sys.argv[1]](sys.argv[2])
