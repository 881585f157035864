#include "lab/live/live_notify.h"

#include "lab/live/live_assets.h"

namespace lab {

std::string LiveNotifySql() { return std::string(assets::kLiveNotifySql); }

}  // namespace lab
