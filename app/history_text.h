// tslflash --history: the update history as text for a person.
#pragma once

#include <string>
#include <vector>

#include "app/update_history.h"

namespace tslflash {

// Newest first (the last appended first), one block a record.
std::string HistoryText(const std::vector<HistoryRecord>& records);

}  // namespace tslflash
