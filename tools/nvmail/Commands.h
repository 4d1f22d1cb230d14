#pragma once

// The subcommands of nvmail. Each takes the arguments after its name and returns the process
// exit status (0 success, 1 failure, 2 bad usage); messages go to stderr.

#include <string>
#include <string_view>
#include <vector>

namespace nvmail {

using Args = std::vector<std::string>;

// nvmail compose: builds an e-mail from addresses, a subject, text and HTML bodies, inline
// images and attachments, and writes its MIME text to a file or stdout.
int compose(const Args& args);
// nvmail show [--log] FILE.eml: the decoded header, the MIME tree, the text body and the
// attachments; with --log, then the activity log of loading the message.
int show(const Args& args);
// nvmail extract FILE.eml DIR: saves the attachments under DIR with sanitised, unique names.
int extract(const Args& args);
// nvmail zip-attachments IN.eml OUT.eml [ZIPNAME]: all attachments replaced by one zip file.
int zipAttachments(const Args& args);
// nvmail unzip-attachments IN.eml OUT.eml: every attached .zip replaced by the files it holds.
int unzipAttachments(const Args& args);
// nvmail to-xml FILE.eml [OUT.xml]: the XML form of the e-mail (stdout without OUT).
int toXml(const Args& args);
// nvmail from-xml FILE.xml [OUT.eml]: the e-mail of an XML form as MIME text.
int fromXml(const Args& args);

// Whole file, or an error message on stderr and false.
bool readInput(const std::string& path, std::string& out);
// The arguments other than flag go to rest; true when flag was among them.
bool takeFlag(const Args& args, std::string_view flag, Args& rest);

} // namespace nvmail
