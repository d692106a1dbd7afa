// The names that would tell who uses this machine, and their removal from
// text meant for someone else (a support report).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tslflash {

// Every name the machine gives, as found: empty ones and repeats included.
struct PrivateNames {
  std::vector<std::string> homes;  // home folders
  std::vector<std::string> users;  // account names
  std::vector<std::string> hosts;  // the machine's names
};

// `text` with each home folder replaced by "<home>", each user name by
// "<user>" and each host name by "<host>": whole words only (a name inside a
// longer word stays), in any letter case, since Windows ignores it.
std::string WithoutPrivateNames(std::string_view text, const PrivateNames& names);

}  // namespace tslflash
