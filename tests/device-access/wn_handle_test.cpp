#include <gtest/gtest.h>

#include "device-access/wn_handle.h"
#include "platform/events.h"

TEST(WnHandle, EmptyHandleIsNull) {
  WnHandle handle;
  EXPECT_EQ(handle.handle(), nullptr);
  handle.closeHandle();
  EXPECT_EQ(handle.handle(), nullptr);
}
