#include <gtest/gtest.h>

#include "app/ui_logic.h"

TEST(AppLogic, SystemCommandsInTheAboutRangeOpenTheAboutBox) {
  for (unsigned id = 0x0010; id <= 0x001F; ++id) EXPECT_TRUE(IsAboutCommand(id)) << id;
  EXPECT_FALSE(IsAboutCommand(0x000F));
  EXPECT_FALSE(IsAboutCommand(0x0020));
  EXPECT_FALSE(IsAboutCommand(0xF060));  // SC_CLOSE
  EXPECT_FALSE(IsAboutCommand(0xF010));  // SC_MOVE
}

TEST(AppLogic, MinimisedIconPositionTruncatesTowardZero) {
  const struct {
    int client, expected;
  } cases[] = {{36, 2}, {35, 2}, {33, 1}, {32, 0}, {0, -15}, {31, 0}, {1, -15}};
  for (const auto& c : cases) EXPECT_EQ(CentredIconOrigin(c.client, 32), c.expected) << c.client;
}
