#pragma once
// The commands of vantrell-cli; each returns the program's exit status.
#include "app/cli_session.h"

namespace cli {

int List(const Options& o);
int Discover(const Options& o);
int Info(const Options& o, Uid uid);
// `args`: for get, PID[=ARG,...]...; for set, the PID and its values.
int GetOrSet(const Options& o, bool set, Uid uid, const std::vector<std::string>& args);
int Patch(const Options& o, const std::vector<std::string>& args);
int PatchAuto(const Options& o);
// Rounds of discovery and polling until interrupted (or --for), one line per
// change; --once prints one snapshot and exits kWarnings when a device reports a
// warning or an error.
int Watch(const Options& o);
// Every settable parameter of the devices into a backup file, and back onto them.
int Backup(const Options& o, const std::string& file);
int Restore(const Options& o, const std::string& file);
int Dmx(const Options& o, const std::vector<std::string>& args, uint16_t storedSize);

} // namespace cli
