// Running part of a test as another user, for tests that run as root.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

namespace quelix {

// Runs `body` in a child that has become user `uid` (group `gid`, also in `groups` and no other).
inline void AsUser(uid_t uid, gid_t gid, std::vector<gid_t> groups,
                   const std::function<void()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
      _exit(3);
    }
    body();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The same as the unprivileged user nobody.
inline void AsNobody(const std::function<void()>& body) {
  AsUser(65534, 65534, {}, body);
}

}  // namespace quelix
