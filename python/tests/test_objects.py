"""What the Python layer adds over the C API: text and bytes crossing ctypes, raising and plain
forms of each member, result types, sequences, and object lifetime."""

import ast
import copy
import pathlib
import pickle

import pytest

import norvane
from norvane import Email, EmailBundle, ErrorCode, NorvaneError, StringArray

# Every byte value, NULs included, and a NUL at the end.
BLOB = bytes(range(256)) * 3 + b"\0tail\0"
SUBJECT = "Grüße aus Köln — 東京 ✓"


def composed():
    email = Email()
    email.subject = SUBJECT
    email.from_ = "Zoë Ärger <zoe@example.com>"
    email.add_to("Jörg Bär", "joerg@example.com")
    email.add_cc("", "cc@example.com")
    email.body = "Plain ä ö ü\r\nsecond line\r\n"
    email.add_html_alternative_body("<p>HTML ✓</p>")
    email.add_data_attachment(BLOB, "blob.bin")
    return email


def test_render_and_parse_round_trip():
    with composed() as sent, Email() as got:
        got.set_from_mime_text(sent.get_mime())
        assert got.subject == SUBJECT
        assert (got.from_name, got.from_address) == ("Zoë Ärger", "zoe@example.com")
        assert (got.get_to_name(0), got.get_to_addr(0), got.get_cc_addr(0)) == (
            "Jörg Bär", "joerg@example.com", "cc@example.com")
        assert got.get_plain_text_body() == "Plain ä ö ü\r\nsecond line\r\n"
        assert "<p>HTML ✓</p>" in got.get_html_body()
        assert (got.get_attachment_filename(0), got.get_attachment_data(0)) == ("blob.bin", BLOB)


def test_text_that_is_not_utf8_goes_back_as_it_came():
    # A body in Latin-1 with no charset declared: the library hands out its bytes as they are.
    with Email() as email:
        email.set_from_mime_text(b"Subject: s\r\n\r\ncaf\xe9 \xff\r\n")
        body = email.body
        assert body == "caf\udce9 \udcff\r\n"
        email.body = body
        assert email.body == body


def test_failure_raises_and_plain_member_returns_false(tmp_path):
    missing = tmp_path / "missing.txt"
    with Email() as email:
        with pytest.raises(NorvaneError) as caught:
            email.add_file_attachment2(missing, "text/plain")
        error = caught.value
        assert (error.member, error.code) == ("AddFileAttachment2", ErrorCode.NOT_FOUND)
        assert str(missing) in error.log and error.log == email.last_error_text
        assert email.AddFileAttachment2(missing, "text/plain") is False
        assert email.last_error_code == ErrorCode.NOT_FOUND
        # A member with a result reports its own failure, not the one of the call before it.
        with pytest.raises(NorvaneError) as caught:
            email.get_attached_message(0)
        assert caught.value.code == ErrorCode.BAD_ARGUMENT
        with pytest.raises(ValueError):
            email.subject = "a\0b"


def test_result_types():
    with composed() as email:
        cases = [(email.subject, str), (email.num_to, int), (email.size, int),
                 (email.return_receipt, bool), (email.email_date, float),
                 (email.get_attachment_data(0), bytes), (email.has_html_body(), bool),
                 (email.last_error_code, ErrorCode), (email.add_to("A", "a@example.com"), type(None)),
                 (email.AddTo("B", "b@example.com"), bool), (email.get_mime_object(), norvane.Mime),
                 (email.GetAttachedMessage(0), type(None))]
        assert [type(value) for value, _ in cases] == [t for _, t in cases]


def test_bundle_sequence_and_xml(tmp_path):
    subjects = ["first", SUBJECT, "third"]
    with EmailBundle() as bundle:
        for subject in subjects:
            with Email() as email:
                email.subject = subject
                bundle.add_email(email)
        assert len(bundle) == 3 and bundle[-1].subject == "third"
        with pytest.raises(IndexError):
            bundle[3]
        bundle.save_xml(tmp_path / "bundle.xml")
        with EmailBundle() as loaded, EmailBundle() as from_text:
            loaded.load_xml(tmp_path / "bundle.xml")
            from_text.load_xml_string(bundle.get_xml())
            assert [e.subject for e in loaded] == [e.subject for e in from_text] == subjects
    with StringArray.of(subjects) as strings:
        assert (len(strings), list(strings), strings[1]) == (3, subjects, SUBJECT)


def test_lifetime():
    with Email() as email:
        # Two owners of one object would release it twice.
        for duplicate in (copy.copy, copy.deepcopy, pickle.dumps):
            with pytest.raises(TypeError):
                duplicate(email)
    email = Email()
    email.close()
    email.close()
    with EmailBundle() as bundle:
        for use in (lambda: email.subject, lambda: email.add_to("A", "a@example.com"),
                    lambda: bundle.add_email(email)):
            with pytest.raises(ValueError):
                use()
    with pytest.raises(ValueError):
        bundle.message_count


def test_stub_declares_every_public_name():
    here = pathlib.Path(norvane.__file__).parent

    def public(path):
        found = set()
        for cls in (n for n in ast.parse(path.read_text()).body if isinstance(n, ast.ClassDef)):
            for m in cls.body:
                names = [m.name] if isinstance(m, ast.FunctionDef) else [
                    t.id for t in getattr(m, "targets", [])]
                found |= {(cls.name, n) for n in names if n.startswith("__") or n[0] != "_"}
        return found

    assert public(here / "_generated.py") == public(here / "_generated.pyi")
