#include <gtest/gtest.h>

#include <string>

#include "shell/messages.h"
#include "support/message_capture.h"

namespace veltrane {
namespace {

TEST(Messages, StringifyWritesDefaultStreamPrecision) {
  EXPECT_EQ("-108", stringify(-108));
  EXPECT_EQ("0.2", stringify(0.2));
  EXPECT_EQ("-30100", stringify(-30100));
  EXPECT_EQ("1.23457e+06", stringify(1234567.0));  // six significant digits
}

TEST(Messages, CodeFollowsTheTextDirectly) {
  testsupport::MessageCapture capture;
  messageWithCode("(Veltrane) Advance state error:", -108);
  reportMessage("plain");
  ASSERT_EQ(2u, capture.count());
  EXPECT_EQ("Veltrane", capture.messages()[0].caption);
  EXPECT_EQ("(Veltrane) Advance state error:-108", capture.messages()[0].text);
  EXPECT_EQ("Veltrane", capture.messages()[1].caption);
  EXPECT_EQ("plain", capture.messages()[1].text);
}

// The POSIX message box is a line on standard error; the Windows one is a
// modal window that waits for a person, so it is not shown from a test.
#if !defined(_WIN32)
TEST(Messages, DefaultSinkWritesOneLineToStandardError) {
  {
    // A capture that goes away hands the message box back to the platform.
    testsupport::MessageCapture capture;
  }
  ::testing::internal::CaptureStderr();
  reportMessage("first line\nsecond\r\nthird");
  EXPECT_EQ("Veltrane: first line second  third\n", ::testing::internal::GetCapturedStderr());
}
#endif

}  // namespace
}  // namespace veltrane
