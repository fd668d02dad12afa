#pragma once
// What several commands read of the line and its devices, each failure noted
// among the session's problems.
#include "app/cli_session.h"
#include "rdm/standard_replies.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// One discovery, every device found in `found` (no bound but the line's). Returns
// kDone when the run was complete, else the verdict's exit status, said on stderr.
int RunDiscovery(Session& s, std::vector<Uid>& found, bool progress, DiscoveryVerdict* verdict = nullptr);
// DEVICE_INFO, typed; false, noted among the problems, when it did not come whole.
bool ReadInfo(Session& s, Uid uid, rdm::DeviceInfo& out);
// A label the device may not have: a NACK UNKNOWN_PID is no failure, only no label.
std::optional<std::string> ReadLabel(Session& s, Uid uid, uint16_t pid);
// A discovery's status and the devices' problems: the discovery's verdict first.
int Combined(int verdict, const Problems& problems);

} // namespace cli
