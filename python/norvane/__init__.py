"""Norvane Mail for Python: compose, render, parse, send and receive Internet mail.

Properties are attributes (``email.subject = "Hi"``); methods have Pythonic names that raise
NorvaneError, carrying the error class and the activity log, when they fail
(``email.add_to("Ann", "ann@example.com")``, ``mailman.send_email(email)``). The members under
their own names (``email.AddTo(...)``) return plain results and never raise for a failure.
Every object can be closed early with ``close()`` or a ``with`` block. A bundle and a string
array are read-only sequences (``len(bundle)``, ``bundle[0]``, ``for email in bundle``).
"""

from ._generated import Cert, Csp, Email, EmailBundle, ErrorCode, MailMan, Mime, StringArray
from ._runtime import NorvaneError

__all__ = ["Cert", "Csp", "Email", "EmailBundle", "ErrorCode", "MailMan", "Mime", "NorvaneError",
           "StringArray"]
