// The Windows Env's facts of the process (the raw command-line tail, the
// executable's folder, the time of day in the user's format), the user's
// interruption, and the conversions to and from the ANSI code page.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/env.h"
#include "platform/locale.h"
#include "platform/windows/interrupt_windows.h"
#include "platform/windows/win_text.h"

#include <windows.h>

namespace platform {
namespace {

Env* os() { return Env::Default(); }

TEST(CommandLineTest, TheTailIsTheRawTextAfterTheProgramsName) {
  struct Case {
    const wchar_t* line;
    const wchar_t* tail;
  };
  for (const Case& c : {
           Case{L"\"C:\\Program Files\\z\\zorvexrun.exe\" /p a b,c",
                L"/p a b,c"},
           // Spaces inside the tail, and after it, stay as typed.
           Case{L"zorvexrun.exe  /p  C:\\My Files\\a.txt , /a ",
                L"/p  C:\\My Files\\a.txt , /a "},
           Case{L"zorvexrun\t/g /a.txt,C:\\in\\", L"/g /a.txt,C:\\in\\"},
           // Quotes in the tail are part of it.
           Case{L"zorvexrun.exe \"/p a.txt\",b", L"\"/p a.txt\",b"},
           // Whatever follows the closing quote of the name starts the tail.
           Case{L"\"C:\\z.exe\"/p a,b", L"/p a,b"},
           Case{L"zorvexrun.exe", L""},
           Case{L"zorvexrun.exe   ", L""},
           Case{L"\"C:\\unclosed /p a,b", L""},
           Case{L"", L""},
       }) {
    EXPECT_EQ(std::wstring(CommandLineTail(c.line)), c.tail) << c.line;
  }
  // The Env hands over the process's own command line; argv is not used.
  char name[] = "zorvexrun";
  char a[] = "/p";
  char b[] = "a b,c";
  char* argv[] = {name, a, b, nullptr};
  EXPECT_EQ(os()->CommandTail(3, argv, 0),
            WideToUtf8(CommandLineTail(GetCommandLineW())));
}

// Options before the tail are split by the C runtime's rules; the tail after
// them stays as typed.
TEST(ProcessTest, LeadingArgumentsAreSplitAsTheRuntimeDoes) {
  using Args = std::vector<std::wstring>;
  EXPECT_EQ(SplitArguments(L"-c \"C:\\My Jobs\\zorvex\" /p a b,c"),
            (Args{L"-c", L"C:\\My Jobs\\zorvex", L"/p", L"a", L"b,c"}));
  EXPECT_EQ(SplitArguments(L"a\\\\\"b c\" d\\\"e \"f\"\"g\""),
            (Args{L"a\\b c", L"d\"e", L"f\"g"}));
  EXPECT_EQ(SplitArguments(L"  \t "), Args{});
  EXPECT_EQ(std::wstring(SkipArguments(L"-c \"C:\\My Jobs\\z\"  /p  a , b ", 2)),
            L"/p  a , b ");
  EXPECT_EQ(std::wstring(SkipArguments(L" /p a,b", 0)), L" /p a,b");
  EXPECT_EQ(std::wstring(SkipArguments(L"-v", 3)), L"");
}

TEST(ProcessTest, ExecutableFolderIsTheModulesOwn) {
  wchar_t module[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::wstring expected(module, n);
  expected.resize(expected.find_last_of(L'\\'));
  const std::string folder = os()->ExecutableFolder();
  EXPECT_EQ(folder, WideToUtf8(expected));
  EXPECT_EQ(folder.substr(1, 2), ":\\");
  EXPECT_NE(folder.back(), '\\');
  EXPECT_EQ(os()->PathSeparator(), '\\');
  EXPECT_TRUE(os()->Status(ToAnsi(folder)).is_directory);
}

// The user's long time format, set for one test and put back afterwards.
class UserTimeFormat {
 public:
  explicit UserTimeFormat(const wchar_t* format) {
    GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STIMEFORMAT, old_, 96);
    ok_ = SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, format);
  }
  ~UserTimeFormat() {
    if (ok_) SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, old_);
  }
  bool ok() const { return ok_; }

 private:
  wchar_t old_[96] = {};
  bool ok_ = false;
};

// Hours, minutes and seconds joined by `separator`, each one or two digits,
// then anything.
bool HasSeconds(const std::string& time, char separator) {
  size_t at = 0;
  for (int part = 0; part < 3; ++part) {
    const size_t start = at;
    while (at < time.size() && at - start < 2 &&
           std::isdigit(static_cast<unsigned char>(time[at])))
      ++at;
    if (at == start) return false;
    if (part < 2 && (at >= time.size() || time[at++] != separator))
      return false;
  }
  return true;
}

TEST(ProcessTest, TimeOfDayIsInTheUsersFormatWithSeconds) {
  EXPECT_TRUE(HasSeconds(os()->TimeOfDay(), ':')) << os()->TimeOfDay();
  {
    UserTimeFormat dots(L"HH.mm.ss");
    if (!dots.ok()) GTEST_SKIP() << "the user's time format cannot be set";
    EXPECT_TRUE(HasSeconds(os()->TimeOfDay(), '.')) << os()->TimeOfDay();
  }
  // A format without seconds still gives them.
  UserTimeFormat short_format(L"H:mm");
  EXPECT_TRUE(HasSeconds(os()->TimeOfDay(), ':')) << os()->TimeOfDay();
}

// ---------------------------------------------------------------------------
// The console control handler's logic, with a state of the test's own (only
// Ctrl+C can be sent to a process here; the end-to-end tests do that).

TEST(ConsoleInterruptsTest, FirstCtrlCOrBreakIsOursTheSecondEndsTheProcess) {
  for (DWORD first : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
    ConsoleInterrupts state(nullptr, 0);
    EXPECT_FALSE(state.interrupted());
    EXPECT_TRUE(state.OnEvent(first));
    EXPECT_TRUE(state.interrupted());
    // The exit status 128 + N of a run that stops: SIGINT or SIGBREAK.
    EXPECT_EQ(state.signal(), first == CTRL_C_EVENT ? 2 : 21);
    // Passed on to the system's default handler, which ends the process.
    EXPECT_FALSE(state.OnEvent(CTRL_C_EVENT));
    EXPECT_FALSE(state.OnEvent(CTRL_BREAK_EVENT));
  }
  ConsoleInterrupts state(nullptr, 0);
  EXPECT_FALSE(state.OnEvent(1234));
  EXPECT_FALSE(state.interrupted());
}

// A thread that plays the run's main thread, ending after `ms`.
HANDLE ThreadEndingAfter(int ms) {
  return CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)));
        return 0;
      },
      reinterpret_cast<void*>(static_cast<uintptr_t>(ms)), 0, nullptr);
}

double SecondsOf(ConsoleInterrupts& state, DWORD event) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(state.OnEvent(event));
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

TEST(ConsoleInterruptsTest, ClosingHoldsTheProcessUntilTheRunHasEnded) {
  for (DWORD event :
       {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    SCOPED_TRACE(event);
    // The run ends after 300 ms: the handler returns then, not at its bound.
    ConsoleInterrupts state(ThreadEndingAfter(300), 20000);
    const double seconds = SecondsOf(state, event);
    EXPECT_EQ(state.signal(), 1);  // as the terminal's hangup
    EXPECT_GE(seconds, 0.25);
    EXPECT_LT(seconds, 10.0);
  }
  // A run that never ends is given its bounded time, and no more.
  HANDLE stuck = ThreadEndingAfter(60000);
  ConsoleInterrupts state(stuck, 400);
  const double seconds = SecondsOf(state, CTRL_CLOSE_EVENT);
  EXPECT_GE(seconds, 0.35);
  EXPECT_LT(seconds, 5.0);
  EXPECT_LT(kCloseGraceMs, 5000);  // under the system's own limit
}

// ---------------------------------------------------------------------------
// The ANSI code page: the system's own (GetACP), whatever the locale.

TEST(AnsiCodePageTest, TextCrossesInTheSystemsCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  EXPECT_EQ(AnsiCodeset(), "CP1252");
  EXPECT_FALSE(AnsiIsUtf8());
  EXPECT_EQ(ToAnsi("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"), "\xE9t\xE9 \x80");
  EXPECT_EQ(FromAnsi("\xE9t\xE9 \x80"), "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC");
  // A character the code page cannot hold becomes "?", never a look-alike:
  // a full-width solidus or reverse solidus must not turn into a separator.
  EXPECT_EQ(ToAnsi("\xE6\x97\xA5/\xEF\xBC\x8F\xEF\xBC\xBC"), "?/??");
  // Bytes that are not UTF-8 pass through unchanged, wherever they stand.
  EXPECT_EQ(ToAnsi("a\xFF\xC3\xA9\xC3"), "a\xFF\xE9\xC3");
  EXPECT_EQ(FromAnsi(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace platform
