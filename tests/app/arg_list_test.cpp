#include "app/arg_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torsel {
namespace {

std::vector<std::string> tokens(const ArgList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.argCount; i++) out.emplace_back(list.argItems[i]);
  return out;
}

TEST(ArgList, CopiesTokensAndDropsEmptyOnes) {
  static ArgList list;
  clearArgList(&list);
  for (const char* a : {"prog.exe", "", "-F10", "\"\"", "a.vmd"}) EXPECT_EQ(addArgToken(&list, a), 0);
  EXPECT_EQ(tokens(list), (std::vector<std::string>{"prog.exe", "-F10", "a.vmd"}));
  EXPECT_EQ(list.poolUsed, 8 + 4 + 5 + 3);
  EXPECT_STREQ(list.argItems[list.argCount], "");
}

TEST(ArgList, QuotedArgumentsGiveTheTextInside) {
  static ArgList list;
  clearArgList(&list);
  addArgToken(&list, "\"C:\\My Files\\a.vmd\"");
  addArgToken(&list, "\"b.vmd\"tail");
  addArgToken(&list, "\"open to the end");
  EXPECT_EQ(tokens(list), (std::vector<std::string>{"C:\\My Files\\a.vmd", "b.vmd", "open to the end"}));
}

TEST(ArgList, PoolNeverOverflows) {
  static ArgList list;
  clearArgList(&list);
  std::string big(40000, 'a');
  addArgToken(&list, big.c_str());
  addArgToken(&list, big.c_str());  // only what fits below 0xFFFD
  addArgToken(&list, "more");       // the pool is full: dropped
  ASSERT_EQ(list.argCount, 2);
  EXPECT_EQ(std::string(list.argItems[1]).size(), 0xFFFDu - 40001u);
  EXPECT_EQ(list.poolUsed, 0xFFFE);
  EXPECT_STREQ(list.argItems[2], "");
}

TEST(ArgList, NeverFillsTheEndSlot) {
  static ArgList list;
  clearArgList(&list);
  for (int i = 0; i < 600; i++) addArgToken(&list, "x");
  EXPECT_EQ(list.argCount, kArgSlots - 1);
  EXPECT_STREQ(list.argItems[list.argCount], "");
}

}  // namespace
}  // namespace torsel
