// What a user refused a device is told to do about it. Joining the device's group is advice only
// where it helps: not for the root group, not for a group the user already has in this login, not
// when the mode gives the group no read and write; a user whose membership came after the login
// is told to log in again.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/console.h"
#include "cli/console_posix.h"

namespace {

using cli::PermissionAdvice;

TEST(PermissionAdvice, FromTheDevicesGroupAndTheUsersPlaceInIt) {
  const struct {
    const char* what;
    cli::DeviceGroup group;  // known, gid, group_read_write, member, member_in_session
    PermissionAdvice want;
  } cases[] = {
      {"root:root 600 pty", {true, 0, false, false, false}, PermissionAdvice::kOwnerDoesNotAllow},
      {"root group, read-write, user in it", {true, 0, true, true, true}, PermissionAdvice::kOwnerDoesNotAllow},
      {"root group, read-write, user not in it", {true, 0, true, false, false}, PermissionAdvice::kOwnerDoesNotAllow},
      {"dialout, user not in it", {true, 20, true, false, false}, PermissionAdvice::kJoinGroup},
      {"dialout, joined after this login", {true, 20, true, true, false}, PermissionAdvice::kLogInAgain},
      {"dialout, in it in this login", {true, 20, true, true, true}, PermissionAdvice::kOwnerDoesNotAllow},
      {"dialout by newgrp, not in the database", {true, 20, true, false, true}, PermissionAdvice::kOwnerDoesNotAllow},
      {"tty 620: the group may only write", {true, 5, false, false, false}, PermissionAdvice::kOwnerDoesNotAllow},
      {"device not to be looked at", {false, 0, false, false, false}, PermissionAdvice::kOwnerDoesNotAllow},
  };
  for (const auto& c : cases) EXPECT_EQ(cli::permission_advice(c.group), c.want) << c.what;
}

// A device of the group this process runs with (a new file gets it): joining it would not help.
TEST(PermissionAdvice, AGroupOfThisLoginIsNotOfferedToJoin) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("zorven-permission-" + std::to_string(::getpid()));
  std::ofstream(path).put('\0');
  ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
  char text[cli::kReasonSize];
  cli::open_failure_text(path.c_str(), EACCES, text, sizeof text);
  std::filesystem::remove(path);
  const std::string reason = text;
  EXPECT_EQ(reason.find("Permission denied: " + path.string() + "."), 0u) << reason;
  EXPECT_EQ(reason.find("group"), std::string::npos) << reason;
  EXPECT_NE(reason.find("do not allow this user"), std::string::npos) << reason;
}

}  // namespace
