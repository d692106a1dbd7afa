#include "transport/clock.h"

#include <thread>

namespace tslflash {

void SystemClock::Sleep(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

}  // namespace tslflash
