#pragma once

#include <exception>
#include <string>

// The text of a mail error as an error row shows it, in the user's language.
// The mail library raises English texts; the fixed ones and the parts of the
// composed ones (socket errors, numbers that are not numbers) are looked up
// in the message domains here. A server's own reply text stays as it came.
std::string MailErrorText(const std::exception& error);
