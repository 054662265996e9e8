#include "inet/message_table.h"

#include <string>

#include <gtest/gtest.h>

#include "inet/errors.h"

namespace inet {
namespace {

// Every code the client sets as a last error.
constexpr DWORD kClientCodes[] = {
    ERROR_FILE_NOT_FOUND,
    ERROR_PATH_NOT_FOUND,
    ERROR_ACCESS_DENIED,
    ERROR_INVALID_HANDLE,
    ERROR_NOT_ENOUGH_MEMORY,
    ERROR_NO_MORE_FILES,
    ERROR_WRITE_FAULT,
    ERROR_READ_FAULT,
    ERROR_FILE_EXISTS,
    ERROR_INVALID_PARAMETER,
    ERROR_DISK_FULL,
    ERROR_INSUFFICIENT_BUFFER,
    ERROR_INVALID_NAME,
    ERROR_ALREADY_EXISTS,
    ERROR_FILENAME_EXCED_RANGE,
    ERROR_INTERNET_OUT_OF_HANDLES,
    ERROR_INTERNET_TIMEOUT,
    ERROR_INTERNET_EXTENDED_ERROR,
    ERROR_INTERNET_INTERNAL_ERROR,
    ERROR_INTERNET_NAME_NOT_RESOLVED,
    ERROR_INTERNET_INCORRECT_HANDLE_TYPE,
    ERROR_INTERNET_CANNOT_CONNECT,
    ERROR_INTERNET_CONNECTION_ABORTED,
    ERROR_INTERNET_CONNECTION_RESET,
    ERROR_FTP_TRANSFER_IN_PROGRESS,
    ERROR_FTP_DROPPED,
    ERROR_CANCELLED,
    ERROR_INTERNET_INVALID_OPTION,
    ERROR_INTERNET_SEC_CERT_DATE_INVALID,
    ERROR_INTERNET_SEC_CERT_CN_INVALID,
    ERROR_INTERNET_INVALID_CA,
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
    ERROR_INTERNET_SEC_INVALID_CERT,
};

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (len == 0 || s.size() - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

bool HasNonAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

TEST(MessageTable, EveryClientCodeHasBothTexts) {
  for (DWORD code : kClientCodes) {
    EXPECT_FALSE(LookupMessage(code, false).empty()) << code;
    EXPECT_FALSE(LookupMessage(code, true).empty()) << code;
  }
  EXPECT_EQ(LookupMessage(2, false), "The system cannot find the file specified.");
  EXPECT_EQ(LookupMessage(12002, false), "The operation timed out.");
  EXPECT_EQ(LookupMessage(12007, false), "The server name could not be resolved.");
  EXPECT_EQ(LookupMessage(12007, true), "サーバー名を解決できませんでした。");
}

TEST(MessageTable, EveryTextIsOneLineOfValidUtf8) {
  ASSERT_GE(MessageCount(), std::size(kClientCodes));
  for (size_t i = 0; i < MessageCount(); ++i) {
    const DWORD code = MessageCodeAt(i);
    if (i > 0) {
      EXPECT_LT(MessageCodeAt(i - 1), code);
    }
    for (bool japanese : {false, true}) {
      const std::string_view text = LookupMessage(code, japanese);
      ASSERT_FALSE(text.empty()) << code;
      EXPECT_EQ(text.find_first_of("\r\n"), std::string_view::npos) << code;
      EXPECT_EQ(text.find('%'), std::string_view::npos) << code;
      EXPECT_TRUE(IsValidUtf8(text)) << code;
      EXPECT_LT(text.size(), 255u) << code;  // fits FormatMessageA's buffer
      EXPECT_EQ(HasNonAscii(text), japanese) << code;
    }
  }
}

TEST(MessageTable, UnknownCodesHaveNoText) {
  for (DWORD code : {7u, 9999u, 12000u, 12999u, 0xFFFFFFFFu}) {
    EXPECT_TRUE(LookupMessage(code, false).empty()) << code;
    EXPECT_TRUE(LookupMessage(code, true).empty()) << code;
  }
}

}  // namespace
}  // namespace inet
