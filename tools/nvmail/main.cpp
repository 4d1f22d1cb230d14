// nvmail: the command-line face of the library.
#include "Commands.h"
#include "Posix.h"

#include "norvane/Email.h"

#include <cstdio>
#include <initializer_list>
#include <string>

#ifndef NVMAIL_VERSION
#define NVMAIL_VERSION "unknown"
#endif

namespace nvmail {

namespace {

int uuid(const Parsed&) {
    std::printf("%s\n", newUuid().c_str());
    return kOk;
}

// The log of a call that fails: attaching a file that does not exist.
int logDemo(const Parsed&) {
    norvane::Email email;
    (void)email.AddFileAttachment("/nonexistent/report.pdf");
    std::printf("-- text --\n%s-- xml --\n%s", email.get_LastErrorText().c_str(),
                email.get_LastErrorXml().c_str());
    return kOk;
}

void printUsage(std::FILE* to) {
    std::fprintf(to, "usage: nvmail <command> [options] [args]\n\ncommands:\n");
    for (const Command& c : commands())
        std::fprintf(to, "  %-19.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                     static_cast<int>(c.summary.find('\n')), c.summary.data());
    std::fprintf(to, "\n'nvmail help COMMAND' (or 'nvmail COMMAND --help') describes one command;"
                     "\n'nvmail --version' prints the version.\n");
}

const Command* findCommand(std::string_view name) {
    for (const Command& c : commands())
        if (c.name == name)
            return &c;
    return nullptr;
}

int unknownCommand(std::string_view name) {
    error("unknown command '" + std::string(name) + "' (see 'nvmail --help')");
    return kUsage;
}

// The options that build an e-mail (compose and send), then more.
std::vector<Option> emailOptions(std::initializer_list<Option> more) {
    std::vector<Option> options = {
        {"--from", "", "ADDR", "sender, e.g. \"Ann Lee <ann@example.com>\""},
        {"--to", "", "ADDRS", "recipients, comma-separated (repeatable)"},
        {"--cc", "", "ADDRS", "copy recipients (repeatable)"},
        {"--bcc", "", "ADDRS", "blind copy recipients (repeatable)"},
        {"--subject", "", "TEXT", ""},
        {"--text", "", "FILE", "plain-text body (UTF-8)"},
        {"--text-string", "", "TEXT", "plain-text body given inline"},
        {"--html", "", "FILE",
         "HTML body (UTF-8); with a text body it becomes the\nalternative. <img "
         "src=\"NAME\"> or cid:NAME refer to\nan --inline file by its name"},
        {"--inline", "", "FILE", "an image or other item the HTML shows (repeatable)"},
        {"--attach", "", "FILE", "an attachment (repeatable)"},
        {"--charset", "", "NAME", "charset to send the text in (default: chosen)"},
    };
    options.insert(options.end(), more);
    return options;
}

} // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"compose", "",
         "Builds an e-mail and writes its MIME text (to standard output without -o).\n"
         "It needs a sender and at least one recipient unless --allow-incomplete is given.",
         emailOptions({
             {"--output", "-o", "FILE", "where to write the .eml (default: standard output)"},
             {"--allow-incomplete", "", "", "write the message without sender or recipients"},
         }),
         0, 0, compose},
        {"send", "[FILE.eml]",
         "Sends an e-mail over SMTP: FILE.eml, or the one compose's options build.\n"
         "Its To, Cc and Bcc addresses receive it; each refused recipient is printed on a line\n"
         "of its own. The status is 0 only when the message was sent and no recipient refused.\n"
         "The password comes from NVMAIL_SMTP_PASSWORD or --password-file, never from the\n"
         "command line. The session uses STARTTLS when the server offers it; LOGIN and PLAIN\n"
         "are not used without TLS unless --no-tls is given. The server is checked against the\n"
         "system's CAs; SSL_CERT_FILE names another CA file to trust instead.",
         emailOptions({
             {"--host", "", "HOST", "SMTP server (default: $NVMAIL_SMTP_HOST)"},
             {"--port", "", "PORT",
              "its port (default: $NVMAIL_SMTP_PORT, else 25; 465 with --tls)"},
             {"--user", "", "NAME", "log in as NAME (default: $NVMAIL_SMTP_USER)"},
             {"--auth", "", "METHOD",
              "LOGIN, PLAIN, CRAM-MD5, NTLM, XOAUTH2 or OAUTHBEARER\n(default: as offered)"},
             {"--password-file", "", "FILE", "the password is the first line of FILE"},
             {"--oauth-token-file", "", "FILE",
              "log in with the OAuth 2.0 access token on the first\nline of FILE (default: "
              "$NVMAIL_SMTP_OAUTH_TOKEN)"},
             {"--starttls", "", "", "STARTTLS required: a server without it is refused"},
             {"--tls", "", "", "TLS from the first byte (SMTPS)"},
             {"--no-tls", "", "", "never TLS; LOGIN or PLAIN then send the password in the clear"},
         }),
         0, 1, sendMail},
        {"fetch",
         "",
         "Lists the messages of a POP3 mailbox, or saves them into a directory.\n"
         "--list prints number, UIDL, sender and subject; --dir saves each message as it arrived\n"
         "into DIR/UIDL.eml, never replacing a file, and prints the file's name. The password\n"
         "comes from NVMAIL_POP_PASSWORD or --password-file. With --tls the server is checked\n"
         "against the system's CAs; SSL_CERT_FILE names another CA file to trust instead.",
         {
             {"--host", "", "HOST", "POP3 server (default: $NVMAIL_POP_HOST)"},
             {"--port", "", "PORT",
              "its port (default: $NVMAIL_POP_PORT, else 110; 995 with --tls)"},
             {"--user", "", "NAME", "mailbox user (default: $NVMAIL_POP_USER)"},
             {"--password-file", "", "FILE", "the password is the first line of FILE"},
             {"--oauth-token-file", "", "FILE",
              "log in with the OAuth 2.0 access token on the first\nline of FILE (default: "
              "$NVMAIL_POP_OAUTH_TOKEN)"},
             {"--tls", "", "", "POP3 over TLS"},
             {"--stls", "", "",
              "STLS required: a server without it is refused (default: STLS\n"
              "when the server offers it)"},
             {"--list", "", "", "list the messages instead of saving them"},
             {"--dir", "", "DIR", "save the messages into DIR (created when missing)"},
             {"--new", "", "", "only messages not yet saved in DIR (others are not an error)"},
             {"--delete", "", "", "delete on the server each message saved and verified"},
         },
         0,
         0,
         fetchMail},
        {"show",
         "FILE.eml",
         "Shows the decoded header, the MIME structure, the text body and the attachments\n"
         "(with --log, then the activity log of loading the message).",
         {},
         1,
         1,
         show},
        {"extract",
         "FILE.eml DIR",
         "Saves the attachments into DIR, never overwriting a file.",
         {{"--inline", "", "", "the inline items (images of the HTML) too"}},
         2,
         2,
         extract},
        {"zip-attachments",
         "IN.eml OUT.eml [ZIPNAME]",
         "Replaces the attachments by one zip file (attach.zip unless ZIPNAME is given).\n"
         "OUT.eml may be IN.eml; it is written only when zipping succeeded.",
         {},
         2,
         3,
         zipAttachments},
        {"unzip-attachments",
         "IN.eml OUT.eml",
         "Replaces attached zip files by the files they hold.\n"
         "OUT.eml may be IN.eml; it is written only when unzipping succeeded.",
         {},
         2,
         2,
         unzipAttachments},
        {"to-xml",
         "FILE.eml [OUT.xml]",
         "Writes the e-mail in its XML form (to standard output without OUT.xml).",
         {},
         1,
         2,
         toXml},
        {"from-xml",
         "FILE.xml [OUT.eml]",
         "Writes the e-mail of an XML form as MIME text (to standard output without OUT.eml).",
         {},
         1,
         2,
         fromXml},
        {"queue-run",
         "DIR",
         "Sends the e-mails queued in DIR, each with the SMTP settings it carries.\n"
         "Sent files move to DIR/sent/, files that can never be sent to DIR/failed/ with a\n"
         ".log; the others stay for the next run.",
         {{"--once", "", "", "one pass over the directory (the default)"},
          {"--watch", "", "SECONDS", "pass again every SECONDS until stopped"}},
         1,
         1,
         queueRun},
        mboxCommand(),
        {"uuid", "", "Prints a new UUID.", {}, 0, 0, uuid},
        {"log-demo", "", "Shows an activity log as text and as XML.", {}, 0, 0, logDemo},
    };
    return list;
}

} // namespace nvmail

int main(int argc, char** argv) {
    using namespace nvmail;
    if (argc < 2) {
        printUsage(stderr);
        return kUsage;
    }
    const std::string first = argv[1];
    const Args rest(argv + 2, argv + argc);
    if (first == "--help" || first == "-h" || (first == "help" && rest.empty())) {
        printUsage(stdout);
        return kOk;
    }
    if (first == "--version" || first == "version") {
        std::printf("nvmail %s\n", NVMAIL_VERSION);
        return kOk;
    }
    if (first == "help") {
        const Command* c = findCommand(rest[0]);
        if (!c)
            return unknownCommand(rest[0]);
        printCommandHelp(*c, stdout);
        return kOk;
    }
    if (first.starts_with("-")) {
        error("unknown option '" + first + "' (see 'nvmail --help')");
        return kUsage;
    }
    const Command* c = findCommand(first);
    return c ? runCommand(*c, rest) : unknownCommand(first);
}
