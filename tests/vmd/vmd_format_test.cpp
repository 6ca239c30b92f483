#include "vmd/vmd_format.h"

#include <gtest/gtest.h>

#include <string>

#include "support/vmd_builder.h"

namespace torsel {
namespace {

std::array<uint8_t, 16> params() {
  std::array<uint8_t, 16> p;
  for (int i = 0; i < 16; i++) p[static_cast<size_t>(i)] = static_cast<uint8_t>(0x10 + i);
  return p;
}

std::string checkOutput(const std::array<uint8_t, 64>& bz) {
  testing::internal::CaptureStdout();
  checkBz(bz.data());
  return testing::internal::GetCapturedStdout();
}

TEST(Interpolation, ParametersComeFromTheirBytes) {
  std::array<uint8_t, 64> bz = testsupport::canonicalBlock(params());
  bz[2] = 0x63;  // a physics switch, not a parameter
  bz[3] = 0x0F;
  const std::array<uint8_t, 16> p = bzParams(bz.data());
  EXPECT_EQ(p, params());
}

TEST(Interpolation, CanonicalBlockPassesSilently) {
  EXPECT_EQ(checkOutput(testsupport::canonicalBlock(params())), "");
}

TEST(Interpolation, EveryRedundantByteIsChecked) {
  const char* labels[16] = {"Xax", "Yax", "Zax", "Rax", "Xay", "Yay", "Zay", "Ray",
                            "Xbx", "Ybx", "Zbx", "Rbx", "Xby", "Yby", "Zby", "Rby"};
  for (int i = 0; i < 64; i++) {
    std::array<uint8_t, 64> bz = testsupport::canonicalBlock(params());
    bz[static_cast<size_t>(i)] ^= 0x40;
    const int row = i / 16, k = i % 16;
    std::string want;
    if (row > 0 && k + row <= 15 && !(row == 2 && k < 2)) {
      const char* label = labels[k + row];
      char line[64];
      if (i <= 18) {
        std::snprintf(line, sizeof line, "  bz[%d](=%02X)!=%s(=%02X) \n", i, bz[static_cast<size_t>(i)], label,
                      params()[static_cast<size_t>(k + row)]);
      } else {
        std::snprintf(line, sizeof line, "  bz[%d]!=%s \n", i, label);
      }
      want = line;
    } else if (row == 0 && i >= 1 && i != 2 && i != 3) {
      // Changing a parameter makes the bytes that repeat it disagree (Xax
      // has no repeat, bytes 2 and 3 are no parameters).
      EXPECT_NE(checkOutput(bz), "") << "byte " << i;
      continue;
    } else if (row == 2 && k < 2) {
      EXPECT_NE(checkOutput(bz), "") << "byte " << i;
      continue;
    }
    EXPECT_EQ(checkOutput(bz), want) << "byte " << i;
  }
}

TEST(Interpolation, MismatchOfByte17NamesByteAndParameter) {
  std::array<uint8_t, 64> bz = testsupport::canonicalBlock(params());
  bz[17] = 0xA5;
  EXPECT_EQ(checkOutput(bz), "  bz[17](=A5)!=Zax(=12) \n");
}

TEST(Interpolation, RebuildKeepsFreeBytesAndThePhysicsSwitch) {
  std::array<uint8_t, 64> bz{};
  for (int i = 0; i < 64; i++) bz[static_cast<size_t>(i)] = static_cast<uint8_t>(0x80 + i);
  std::array<uint8_t, 64> out{};
  canonicalBz(bz.data(), out.data());
  std::array<uint8_t, 16> p = bzParams(bz.data());
  std::array<uint8_t, 64> want = testsupport::canonicalBlock(p);
  for (int free : {2, 3, 31, 46, 47, 61, 62, 63}) want[static_cast<size_t>(free)] = bz[static_cast<size_t>(free)];
  EXPECT_EQ(out, want);

  // A canonical block comes out unchanged.
  std::array<uint8_t, 64> canonical = testsupport::canonicalBlock(params());
  canonicalBz(canonical.data(), out.data());
  EXPECT_EQ(out, canonical);
}

}  // namespace
}  // namespace torsel
