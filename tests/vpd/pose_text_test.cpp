// A pose's numbers, in-process: written as glibc's "%f" writes them (the
// Windows and WebAssembly runtimes round otherwise), read as strtof reads them.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "support/harness.h"
#include "vpd/pose_text.h"

namespace torsel {
namespace {

using Numbers = testsupport::TempDirTest;

TEST_F(Numbers, WrittenAsPrintfWritesThemAndReadAsStrtofReadsThem) {
  std::mt19937 random(7);
  std::string pose = "Vocaloid Pose Data file\nm;\n2000;\n";
  std::vector<std::string> written;
  char ours[kPoseNumberSize], theirs[kPoseNumberSize];
  for (int i = 0; i < 400000; i++) {
    // Any bits; and steps of 2^-k, where the ties of rounding to six decimals lie.
    const float grid = std::ldexp(float(random() % (1 << 24)), -int(random() % 30));
    const float v = i % 2 ? std::bit_cast<float>(uint32_t(random())) : random() % 2 ? grid : -grid;
    formatPoseNumber(v, ours);
    std::snprintf(theirs, sizeof theirs, "%f", static_cast<double>(v));
    ASSERT_STREQ(ours, theirs) << std::hexfloat << v;
    if (std::fabs(v) < 1e6f && written.size() < 8000) written.push_back(ours);
  }
  for (size_t i = 0; i < written.size(); i += 4) {
    pose += "Bone" + std::to_string(i / 4) + "{b\n0,0,0;" + written[i] + "," + written[i + 1] + ",";
    pose += written[i + 2] + "," + written[i + 3] + ";\n}\n";
  }
  testsupport::writeFile(dir_ + "/n.vpd", testsupport::Bytes(pose.begin(), pose.end()));
  ASSERT_EQ(readPoseText((dir_ + "/n.vpd").c_str()), 0);
  for (size_t i = 0; i < written.size(); i++) {
    const Quat& q = gPose.block[i / 4].rot;
    const float read[] = {q.x, q.y, q.z, q.w}, theirs = std::strtof(written[i].c_str(), nullptr);
    EXPECT_EQ(std::bit_cast<uint32_t>(read[i % 4]), std::bit_cast<uint32_t>(theirs)) << written[i];
  }
}

}  // namespace
}  // namespace torsel
