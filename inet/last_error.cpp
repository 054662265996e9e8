#include "inet/last_error.h"

#include <utility>

namespace inet {
namespace {
thread_local DWORD t_last_error = 0;
thread_local LastResponse t_last_response;
}  // namespace

void SetLastError(DWORD error) { t_last_error = error; }
DWORD LastError() { return t_last_error; }

void SetLastResponse(DWORD code, std::string text) {
  t_last_response.code = code;
  t_last_response.text = std::move(text);
}

const LastResponse& ThreadLastResponse() { return t_last_response; }

}  // namespace inet
