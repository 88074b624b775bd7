#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/events.h"
#include "platform/waits.h"

using namespace platform;

TEST(Events, AutoResetCoalescesSignals) {
  Handle event = createEvent(false, false);
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(setEvent(event));
  EXPECT_TRUE(setEvent(event));
  EXPECT_EQ(waitForSingle(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(waitForSingle(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(closeHandle(event));
}
