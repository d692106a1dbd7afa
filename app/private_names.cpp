#include "app/private_names.h"

#include <algorithm>
#include <cctype>

namespace tslflash {
namespace {

struct Replacement {
  std::string name;
  std::string_view token;
};

bool IsWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool SameIgnoringCase(std::string_view text, std::string_view name) {
  return std::ranges::equal(text, name, [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

// A home of "/" or a bare drive would take every path with it; a trailing
// separator is dropped so that "/home/ann/" also finds "/home/ann".
std::string HomeFolder(std::string home) {
  while (!home.empty() && (home.back() == '/' || home.back() == '\\')) home.pop_back();
  return home.size() > 2 ? home : std::string();
}

// Longest first, so that a home is replaced whole before the user name in it.
std::vector<Replacement> Replacements(const PrivateNames& names) {
  std::vector<Replacement> replacements;
  auto add = [&replacements](const std::string& name, std::string_view token) {
    if (name.empty()) return;
    const bool known = std::ranges::any_of(
        replacements, [&name](const Replacement& r) { return SameIgnoringCase(r.name, name); });
    if (!known) replacements.push_back({name, token});
  };
  for (const std::string& home : names.homes) add(HomeFolder(home), "<home>");
  for (const std::string& user : names.users) add(user, "<user>");
  for (const std::string& host : names.hosts) add(host, "<host>");
  std::ranges::stable_sort(replacements, std::ranges::greater{},
                           [](const Replacement& r) { return r.name.size(); });
  return replacements;
}

// Whether `name` stands at `at` as a word of its own.
bool WholeWordAt(std::string_view text, std::size_t at, std::string_view name) {
  if (!SameIgnoringCase(text.substr(at, name.size()), name)) return false;
  const bool startsWord =
      at == 0 || !IsWordCharacter(text[at - 1]) || !IsWordCharacter(name.front());
  const std::size_t end = at + name.size();
  const bool endsWord =
      end == text.size() || !IsWordCharacter(text[end]) || !IsWordCharacter(name.back());
  return startsWord && endsWord;
}

}  // namespace

std::string WithoutPrivateNames(std::string_view text, const PrivateNames& names) {
  const std::vector<Replacement> replacements = Replacements(names);
  std::string result;
  result.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const auto found = std::ranges::find_if(
        replacements, [&](const Replacement& r) { return WholeWordAt(text, at, r.name); });
    if (found == replacements.end()) {
      result += text[at++];
      continue;
    }
    result += found->token;
    at += found->name.size();
  }
  return result;
}

}  // namespace tslflash
