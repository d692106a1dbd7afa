// A history record as a JSON object: the body of its line in the history
// file, and what --history --json lists.
#pragma once

#include <nlohmann/json.hpp>

#include "app/update_history.h"

namespace tslflash {

nlohmann::ordered_json HistoryRecordJson(const HistoryRecord& record);

}  // namespace tslflash
