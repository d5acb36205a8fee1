// The Linux console's own parts beyond console.h: the port listing over a folder that stands in
// for the system's, and the advice for a user the system refuses a device.
#pragma once

#include <string>
#include <vector>

#include "cli/console.h"

namespace cli {

// list_ports, reading the system's folders (/dev, /sys) under `root` instead of "/": "" is the
// running system, a folder of a test's making stands in for another machine.
std::vector<PortInfo> list_ports_under(const std::string& root);

// What a user refused a device can do about it, from the group that owns the device.
enum class PermissionAdvice {
  kJoinGroup,          // join the device's group
  kLogInAgain,         // in the group, but not yet in this login session
  kOwnerDoesNotAllow,  // no group to join helps: an administrator, or a udev rule, has to allow it
};

struct DeviceGroup {
  bool known = false;              // the device could be looked at
  unsigned gid = 0;                // the group that owns it
  bool group_read_write = false;   // its mode lets that group read and write
  bool member = false;             // the group database has the user in the group
  bool member_in_session = false;  // this process has the group
};

PermissionAdvice permission_advice(const DeviceGroup& g);

}  // namespace cli
