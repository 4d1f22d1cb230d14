// Reads every message of a POP3 mailbox (leaving them on the server) and saves their
// attachments into a directory.
//
//   fetch_attachments HOST PORT USER DIR      password in NORVANE_POP_PASSWORD

#include <norvane/Email.h>
#include <norvane/EmailBundle.h>
#include <norvane/MailMan.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: fetch_attachments HOST PORT USER DIR\n");
        return 2;
    }
    norvane::MailMan mailman;
    mailman.put_MailHost(argv[1]);
    mailman.put_MailPort(std::atoi(argv[2]));
    mailman.put_PopUsername(argv[3]);
    const char* password = std::getenv("NORVANE_POP_PASSWORD");
    mailman.put_PopPassword(password ? password : "");

    std::unique_ptr<norvane::EmailBundle> bundle = mailman.CopyMail();
    if (!bundle) {
        std::fprintf(stderr, "fetch failed (%s):\n%s",
                     norvane::errorCodeName(mailman.get_LastErrorCode()),
                     mailman.get_LastErrorText().c_str());
        return 1;
    }
    int saved = 0;
    for (int i = 0; i < bundle->get_MessageCount(); ++i) {
        std::unique_ptr<norvane::Email> email = bundle->GetEmail(i);
        std::printf("%s: %d attachment(s)\n", email->get_Subject().c_str(),
                    email->get_NumAttachments());
        if (email->get_NumAttachments() > 0 && !email->SaveAllAttachments(argv[4])) {
            std::fprintf(stderr, "%s", email->get_LastErrorText().c_str());
            return 1;
        }
        saved += email->get_NumAttachments();
    }
    std::printf("%d message(s), %d attachment(s) saved in %s\n", bundle->get_MessageCount(), saved,
                argv[4]);
    return 0;
}
