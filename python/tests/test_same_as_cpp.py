"""The package gives what the C++ classes give: every message of the cross-check corpora
(tools/crosscheck: Python's own test messages and the damaged ones) is loaded through the
package and compared, field by field, with what email_dump (the public C++ classes) prints."""

import json
import mailbox
import os
import pathlib
import subprocess

from norvane import Email

SOURCE = pathlib.Path(__file__).resolve().parents[2]


def corpus(tmp_path):
    import test.test_email  # Python's test messages (Debian: libpython3.11-testsuite)

    files = sorted(pathlib.Path(test.test_email.__file__).parent.glob("data/msg_*.txt"))
    damaged = SOURCE / "tests/data/crosscheck/damaged"
    files += sorted(damaged.glob("*.eml"))
    for box in sorted(damaged.glob("*.mbox")):
        for i, message in enumerate(mailbox.mbox(box, create=False)):
            files.append(tmp_path / f"{box.name}.{i}.eml")
            files[-1].write_bytes(message.as_bytes())
    return files


def dump(e):
    def each(count, item):
        return [item(i) for i in range(count)]

    def subject_of(message):
        return message.subject if message else None

    return {"subject": e.subject, "from": [e.from_name, e.from_address],
            "to": each(e.num_to, lambda i: [e.get_to_name(i), e.get_to_addr(i)]),
            "cc": each(e.num_cc, lambda i: [e.get_cc_name(i), e.get_cc_addr(i)]),
            "plain": e.get_plain_text_body(), "html": e.get_html_body(),
            "headers": each(e.num_header_fields,
                            lambda i: [e.get_header_field_name(i), e.get_header_field_value(i)]),
            "attachments": each(e.num_attachments, lambda i: [
                e.get_attachment_filename(i), e.get_attachment_content_type(i),
                e.get_attachment_data(i).hex()]),
            "related": each(e.num_related_items, lambda i: [
                e.get_related_filename(i), e.get_related_data(i).hex()]),
            "attached": each(e.num_attached_messages,
                             lambda i: subject_of(e.get_attached_message(i)))}


def test_every_message_reads_as_in_cpp(tmp_path):
    files = corpus(tmp_path)
    out = subprocess.run([os.environ["NORVANE_EMAIL_DUMP"], *files], check=True,
                         stdout=subprocess.PIPE).stdout
    # The library's strings are bytes; the package hands out undecodable ones as surrogates.
    expected = [json.loads(line) for line in out.decode("utf-8", "surrogateescape").split("\n")[:-1]]
    assert len(expected) == len(files) > 70
    for path, want in zip(files, expected):
        with Email() as email:
            email.load_eml(path)
            assert dump(email) == want, path
