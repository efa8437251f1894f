// The page call of one pager recipient: what the agent's page action and the console's test
// page hand to KT_PageLink. Both build it here, so a recipient pages the same way from either.
#pragma once

#include <string>

#include "core/mail_paging/page_link.h"
#include "core/scp/pager_config.h"

// The bit-rate text of a baud index as the page link's line text takes it: 1 "600", 2 "1200",
// 3 "2400", 4 "4800", 5 "9600", 6 "19200", 7 "38400", 8 "14400", 9 "28800", any other "300".
const char* PagerBaudText(int baudIndex);

// The call for a recipient and a message. A recipient whose paging company speaks the
// alphanumeric protocol gets its pin and block size and the port's own speed; a numeric pager
// gets "B" and its bit rate and the seconds to wait before the digits.
KT_PageCall MakePageCall(const KT_PagerConfig& recipient, const std::string& message);
