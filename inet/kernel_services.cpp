// The service's kernel members: the last response and the last error of the
// calling thread, the message texts, and the calendar fields of a file time.
#include <cstring>
#include <string>

#include "inet/errors.h"
#include "inet/filetime.h"
#include "inet/ftp_client.h"
#include "inet/last_error.h"
#include "inet/message_table.h"
#include "platform/locale.h"

namespace inet {

// The reply text goes out in the ANSI code page. A buffer too small for it
// still receives as much as fits, NUL-terminated (never a partial character
// in UTF-8), and the call fails with ERROR_INSUFFICIENT_BUFFER with
// *lpdwBufferLength set to the size needed, NUL included: a caller that
// does not look at the result still shows the start of the text.
BOOL FtpClient::InternetGetLastResponseInfoA(DWORD* lpdwError,
                                             char* lpszBuffer,
                                             DWORD* lpdwBufferLength) {
  if (lpdwError == nullptr || lpdwBufferLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const LastResponse& response = ThreadLastResponse();
  const std::string text = platform::ToAnsi(response.text);
  *lpdwError = response.code;
  const DWORD capacity = lpszBuffer == nullptr ? 0 : *lpdwBufferLength;
  if (text.size() + 1 <= capacity) {
    std::memcpy(lpszBuffer, text.data(), text.size());
    lpszBuffer[text.size()] = '\0';
    *lpdwBufferLength = static_cast<DWORD>(text.size());
    SetLastError(ERROR_SUCCESS);
    return 1;
  }
  if (capacity > 0) {
    size_t n = capacity - 1;
    if (platform::AnsiCodeset() == "UTF-8") {
      while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(lpszBuffer, text.data(), n);
    lpszBuffer[n] = '\0';
  }
  *lpdwBufferLength = static_cast<DWORD>(text.size() + 1);
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return 0;
}

DWORD FtpClient::FormatMessageA(DWORD dwFlags, const void*, DWORD dwMessageId,
                                DWORD dwLanguageId, char* lpBuffer,
                                DWORD nSize, void*) {
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Language: Japanese (0x11) or English (0x09) by primary language; the
  // neutral language (0) means the user's own.
  const DWORD primary = dwLanguageId & 0x3FF;
  const bool japanese =
      primary == 0x11 || (primary == 0 && platform::UserLanguageIsJapanese());
  std::string_view utf8 = LookupMessage(dwMessageId, japanese);
  if (utf8.empty()) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);  // no text for the code
    return 0;
  }
  std::string text(utf8);
  if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0) {
    // Line breaks of the message definition are not copied.
    std::string flat;
    for (char c : text) {
      if (c == '\r' || c == '\n') {
        if (!flat.empty() && flat.back() != ' ') flat.push_back(' ');
      } else {
        flat.push_back(c);
      }
    }
    while (!flat.empty() && flat.back() == ' ') flat.pop_back();
    text = std::move(flat);
  }
  text = platform::ToAnsi(text);
  if (text.size() + 1 > nSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.data(), text.size());
  lpBuffer[text.size()] = '\0';
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

BOOL FtpClient::FileTimeToSystemTime(const FILETIME* lpFileTime,
                                     SYSTEMTIME* lpSystemTime) {
  if (lpFileTime == nullptr || lpSystemTime == nullptr ||
      !CivilFromFileTime(*lpFileTime, lpSystemTime)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return 1;
}

DWORD FtpClient::GetLastError() { return LastError(); }

}  // namespace inet
