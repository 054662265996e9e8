#include "app/message_box.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace zorvex {
namespace {

TEST(MessageBoxTest, SinkReceivesTheTextUnchanged) {
  std::vector<std::string> seen;
  const MessageSink previous =
      SetMessageSink([&](std::string_view text) { seen.emplace_back(text); });
  MsgBox("6\r\n");
  MsgBox("Put Error ");
  SetMessageSink(previous);
  EXPECT_EQ(seen, (std::vector<std::string>{"6\r\n", "Put Error "}));
}

TEST(MessageBoxTest, StandardErrorGetsOneLineWithTheTitle) {
  const MessageSink previous = SetMessageSink(nullptr);
  testing::internal::CaptureStderr();
  MsgBox("6\r\n");
  MsgBox("Conect Error ");
  MsgBox("550 No such file.\r\n550 Really.\nend\r");
  MsgBox("");
  const std::string out = testing::internal::GetCapturedStderr();
  SetMessageSink(previous);
  EXPECT_EQ(out,
            "zorvexrun: 6\n"
            "zorvexrun: Conect Error \n"
            "zorvexrun: 550 No such file. 550 Really. end\n"
            "zorvexrun: \n");
}

TEST(MessageBoxTest, SinkMayReplaceItselfAndCallersMayRace) {
  int calls = 0;
  SetMessageSink([&](std::string_view) {
    ++calls;
    SetMessageSink([](std::string_view) {});  // no deadlock
  });
  MsgBox("x");
  MsgBox("y");
  EXPECT_EQ(calls, 1);

  SetMessageSink([](std::string_view) {});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) MsgBox("z");
    });
  for (auto& th : threads) th.join();
  SetMessageSink(nullptr);
}

TEST(MessageBoxTest, ThrowingSinkDoesNotReachTheCaller) {
  SetMessageSink([](std::string_view) { throw std::runtime_error("no"); });
  EXPECT_NO_THROW(MsgBox("x"));
  SetMessageSink(nullptr);
}

}  // namespace
}  // namespace zorvex
