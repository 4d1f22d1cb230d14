#pragma once

// HTML views of an e-mail: the hosts and addresses its bodies link to, and the single-file
// MHT copy (the e-mail without attachments, plain text shown as HTML) that a browser opens.

#include "common/LogBase.h"
#include "email/Email2.h"

#include <string>
#include <string_view>
#include <vector>

namespace norvane::email_html {

// Appends the linked hosts and addresses of the plain-text and HTML bodies (and the main
// body) of email to list, each once, in the order first found.
void linkedDomainsOf(const Email2& email, std::vector<std::string>& list);

// The MIME text of a copy of email without attachments whose plain text, when it has no HTML
// body, is shown as preformatted HTML (escaped, so the text cannot inject markup). Empty when
// the copy cannot be made.
[[nodiscard]] std::string tempMhtCopy(const Email2& email, LogBase& log);

// Writes tempMhtCopy to fileName (trimmed), or to a new file in the temporary directory made
// from "tmpMht.mht" when fileName is empty. Returns the name written, or empty on failure.
[[nodiscard]] std::string writeTempMht(const Email2& email, std::string_view fileName,
                                       LogBase& log);

} // namespace norvane::email_html
