#pragma once

// The commands of nvmail. Each gets its parsed command line and returns the exit status
// (kOk, kFailed, kUsage); messages go to standard error (see Cli.h).

#include "Cli.h"

#include <memory>
#include <vector>

namespace norvane {
class Email;
}

namespace nvmail {

// Builds an e-mail from addresses, a subject, text and HTML bodies, inline images and
// attachments, and writes its MIME text to a file or standard output.
int compose(const Parsed& p);
// The e-mail of compose's options (also send's), or the status of the error already reported.
int buildEmail(const Parsed& p, std::unique_ptr<norvane::Email>& out);
// Sends an .eml file or the e-mail of compose's options over SMTP; refused recipients are
// printed, one a line.
int sendMail(const Parsed& p);
// Lists the messages of a POP3 mailbox, or saves them into a directory as .eml files, deleting
// on the server only what was saved and verified.
int fetchMail(const Parsed& p);
// The decoded header, the MIME tree, the text body and the attachments; with --log, then the
// activity log of loading the message.
int show(const Parsed& p);
// Saves the attachments under a directory with sanitised, unique names.
int extract(const Parsed& p);
// All attachments replaced by one zip file.
int zipAttachments(const Parsed& p);
// Every attached .zip replaced by the files it holds.
int unzipAttachments(const Parsed& p);
// The XML form of an e-mail, and back.
int toXml(const Parsed& p);
int fromXml(const Parsed& p);

// Sends the queue files of a directory and files them under sent/ or failed/.
int queueRun(const Parsed& p);

// Lists the messages of a mailbox file, or saves one as an .eml (Mbox.cpp).
Command mboxCommand();
// Saves data as name in the directory at dirPath (created when missing), or under a numbered
// variant when the name is taken; the name used goes to saved. Reported on failure.
bool saveIntoDirectory(const std::string& dirPath, const std::string& name, std::string_view data,
                       std::string& saved);

// The commands, in the order the help lists them.
const std::vector<Command>& commands();

} // namespace nvmail
