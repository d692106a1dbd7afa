// The Linux run shield on its own, for the login-manager test: each line of
// standard input is a word, answered on standard output. "raise" raises the
// shield with the sleep lock and answers "blocked" or "not blocked"; "lower"
// lowers it and answers "lowered". The process lives until its input ends,
// so the test can look at the lock after Lower while the process is alive.
#include <iostream>
#include <string>

#include "update/run_shield.h"

int main() {
  const auto shield = tslflash::MakeSystemRunShield(tslflash::SleepLock::Take);
  for (std::string word; std::getline(std::cin, word);) {
    if (word == "raise") {
      std::cout << (shield->Raise() ? "blocked" : "not blocked") << std::endl;
    } else if (word == "lower") {
      shield->Lower();
      std::cout << "lowered" << std::endl;
    } else {
      std::cerr << "run_shield_probe: raise or lower, not \"" << word << "\"\n";
      return 2;
    }
  }
  return 0;
}
