#include <gtest/gtest.h>

#include "platform/win32/ui/command_line.h"

namespace {

using platform::win32::argumentsOf;

TEST(CommandLine, SkipsAPlainProgramNameAndTheBlanksAfterIt) {
  EXPECT_EQ(argumentsOf(L"Launcher.exe /pause"), L"/pause");
  EXPECT_EQ(argumentsOf(L"Launcher.exe \t  /pause"), L"/pause");
  EXPECT_EQ(argumentsOf(L"C:\\Games\\Launcher.exe"), L"");
  EXPECT_EQ(argumentsOf(L""), L"");
  // What follows is kept as it stands, so only an exact "/pause" restarts.
  EXPECT_EQ(argumentsOf(L"Launcher.exe /pause "), L"/pause ");
  EXPECT_EQ(argumentsOf(L"Launcher.exe /PAUSE x"), L"/PAUSE x");
}

TEST(CommandLine, AQuotedProgramNameMayHoldBlanks) {
  EXPECT_EQ(argumentsOf(L"\"C:\\Program Files\\Glimmerhold\\Launcher.exe.tmp\" /pause"), L"/pause");
  EXPECT_EQ(argumentsOf(L"\"C:\\Program Files\\Launcher.exe\""), L"");
  // An unclosed quote takes the whole line as the name.
  EXPECT_EQ(argumentsOf(L"\"C:\\Program Files\\Launcher.exe /pause"), L"");
  // Text glued to the closing quote is an argument, as in the C runtime.
  EXPECT_EQ(argumentsOf(L"\"Launcher.exe\"/pause"), L"/pause");
  // A quote inside an unquoted name does not start a quoted part.
  EXPECT_EQ(argumentsOf(L"Laun\"cher.exe /pause"), L"/pause");
}

}  // namespace
