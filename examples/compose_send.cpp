// Composes an e-mail with a text and an HTML body and an attachment, then sends it, or saves it
// as message.eml when no server is given.
//
//   compose_send FROM TO [HOST PORT [USER]]      password, if any, in NORVANE_SMTP_PASSWORD

#include <norvane/Email.h>
#include <norvane/MailMan.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 && argc < 5) {
        std::fprintf(stderr, "usage: compose_send FROM TO [HOST PORT [USER]]\n");
        return 2;
    }
    norvane::Email email;
    email.put_From(argv[1]);
    email.AddTo("", argv[2]);
    email.put_Subject("Quarterly figures — résumé");
    email.put_Body("The figures are attached.\n");
    email.AddHtmlAlternativeBody("<p>The figures are <b>attached</b>.</p>");
    const std::vector<uint8_t> figures{'q', ',', '1', '\n', 'r', ',', '2', '\n'};
    if (email.AddDataAttachment(figures, "figures.csv").empty()) {
        std::fprintf(stderr, "%s", email.get_LastErrorText().c_str());
        return 1;
    }

    if (argc == 3) {
        if (!email.SaveEml("message.eml")) {
            std::fprintf(stderr, "%s", email.get_LastErrorText().c_str());
            return 1;
        }
        std::printf("saved message.eml\n");
        return 0;
    }
    norvane::MailMan mailman;
    mailman.put_SmtpHost(argv[3]);
    mailman.put_SmtpPort(std::atoi(argv[4]));
    if (argc > 5) {
        mailman.put_SmtpUsername(argv[5]);
        const char* password = std::getenv("NORVANE_SMTP_PASSWORD");
        mailman.put_SmtpPassword(password ? password : "");
    }
    if (!mailman.SendEmail(&email)) {
        std::fprintf(stderr, "send failed (%s):\n%s",
                     norvane::errorCodeName(mailman.get_LastErrorCode()),
                     mailman.get_LastErrorText().c_str());
        return 1;
    }
    std::printf("sent to %s\n", argv[2]);
    return 0;
}
