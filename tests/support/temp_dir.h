// A test with a folder of its own, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/run_program.h"

namespace testsupport {

class TempDirTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = makeTempDir();
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { std::system(("chmod -R u+w " + dir_ + " 2>/dev/null; rm -rf " + dir_).c_str()); }

  std::string dir_;
};

}  // namespace testsupport
