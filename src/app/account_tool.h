// The web console's accounts from the command line (acserver-bans account):
// list, add, role, passwd, disable and enable, on the accounts beside the
// records in use: acserver.db, or the shared ban base when "ban_base" names
// one (the accounts of every server of it). A password is read from standard
// input (without echo at a terminal), never from the command line, where
// other users could read it. Every change is written to the audit trail with
// the real user who ran the tool.
#pragma once

#include <string>
#include <vector>

// words: the sub-command and its arguments; json: list as JSON. The exit
// status: 0 done, 1 no such account, 2 usage, file or database error.
int RunAccountTool(const std::vector<std::string>& words, bool json);
