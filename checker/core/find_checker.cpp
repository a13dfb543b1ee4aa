#include "find_checker.h"

#include <algorithm>

#include "texts.h"

bool IsDefaultCheckerName(const std::string& name) {
  const std::string own = kTextDefaultCheckerName;
  if (name.size() != own.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
  for (size_t i = 0; i < name.size(); ++i) {
    if (lower(name[i]) != lower(own[i])) return false;
  }
  return true;
}

CheckerChoice FindChecker(const std::vector<std::string>& exeNames,
                          const std::function<bool(const std::string& name)>& carriesCheckData) {
  // Sorted, so that the choice and the names it reports do not hang on the order of a listing.
  std::vector<std::string> names = exeNames;
  std::sort(names.begin(), names.end());
  CheckerChoice choice;
  auto own = std::find(names.begin(), names.end(), std::string(kTextDefaultCheckerName));
  if (own == names.end()) own = std::find_if(names.begin(), names.end(), IsDefaultCheckerName);
  if (own != names.end()) {
    choice.outcome = CheckerChoice::kFound;
    choice.name = *own;
    return choice;
  }
  for (const std::string& name : names) {
    if (carriesCheckData(name)) choice.names.push_back(name);
  }
  if (choice.names.size() == 1) {
    choice.outcome = CheckerChoice::kFound;
    choice.name = choice.names[0];
    choice.names.clear();
  } else if (!choice.names.empty()) {
    choice.outcome = CheckerChoice::kSeveral;
  }
  return choice;
}
