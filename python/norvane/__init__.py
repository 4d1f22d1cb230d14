"""Norvane Mail for Python: compose, render, parse, send and receive Internet mail.

Properties are attributes (``email.subject = "Hi"``); methods have Pythonic names that raise
NorvaneError, carrying the error class and the activity log, when they fail
(``email.add_to("Ann", "ann@example.com")``, ``mailman.send_email(email)``). The members under
their own names (``email.AddTo(...)``) return plain results and never raise for a failure.
Every object can be closed early with ``close()`` or a ``with`` block.
"""

from ._generated import Cert, Csp, Email, EmailBundle, ErrorCode, MailMan, Mime, StringArray
from ._runtime import NorvaneError


def _bundle_iter(self):
    for i in range(self.message_count):
        yield self.get_email(i)


def _strings_iter(self):
    for i in range(self.count):
        yield self.get_string(i)


def _strings_from(cls, items):
    array = cls()
    for item in items:
        array.append(item)
    return array


EmailBundle.__len__ = lambda self: self.message_count
EmailBundle.__iter__ = _bundle_iter
StringArray.__len__ = lambda self: self.count
StringArray.__iter__ = _strings_iter
StringArray.of = classmethod(_strings_from)

__all__ = ["Cert", "Csp", "Email", "EmailBundle", "ErrorCode", "MailMan", "Mime", "NorvaneError",
           "StringArray"]
