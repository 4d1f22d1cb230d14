"""Send and fetch through the package against the real servers: Exim takes the e-mail and
delivers it into grace's maildir, Dovecot hands it back over POP3. Another suite reads that
mailbox at the same time, so this test finds its own message by a unique subject and deletes
nothing (the servers' state goes when they stop)."""

import time
import uuid

import pytest

from norvane import Email, ErrorCode, MailMan, NorvaneError

BLOB = bytes(range(256)) + b"\0\r\n.\r\n\0"


def mailman(servers, smtp_password="alicepw"):
    man = MailMan()
    man.smtp_host = man.mail_host = "127.0.0.1"
    man.smtp_port = int(servers["EXIM_CYRUS_PORT"])
    man.smtp_username, man.smtp_password = "alice", smtp_password
    man.mail_port = int(servers["POP3_PORT"])
    man.pop_username, man.pop_password = "grace", "gracepw"
    return man


def fetch_by_subject(man, subject, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        for uidl in man.get_uidls():
            email = man.fetch_email(uidl)
            if email.subject == subject:
                return email
        time.sleep(0.2)
    pytest.fail(f"{subject!r} did not arrive in grace's mailbox")


def test_send_then_fetch(servers, monkeypatch):
    # Dovecot offers STLS, which the mail manager takes: its certificate is of the test CA.
    monkeypatch.setenv("SSL_CERT_FILE", servers["CA_FILE"])
    subject = f"Rundreise ✓ {uuid.uuid4()}"
    with Email() as sent, mailman(servers) as man:
        sent.subject = subject
        sent.from_ = "Zoë <zoe@test.invalid>"
        sent.add_to("Grace", "grace@pop.test.invalid")
        sent.body = "Grüße\r\n.a line starting with a dot\r\n"
        sent.add_data_attachment(BLOB, "blob.bin")
        man.send_email(sent)
        with fetch_by_subject(man, subject) as got:
            assert (got.from_, got.get_to_addr(0)) == (sent.from_, "grace@pop.test.invalid")
            assert got.get_plain_text_body() == sent.body
            assert got.get_attachment_data(0) == BLOB


def test_refused_login_raises_authentication(servers):
    with Email() as email, mailman(servers, smtp_password="wrong") as man:
        email.from_ = "zoe@test.invalid"
        email.add_to("", "grace@pop.test.invalid")
        with pytest.raises(NorvaneError) as caught:
            man.send_email(email)
        assert caught.value.code == ErrorCode.AUTHENTICATION and caught.value.log
        assert man.SendEmail(email) is False
