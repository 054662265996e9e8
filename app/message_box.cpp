#include "app/message_box.h"

#include "platform/locale.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace zorvex {
namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

// The text as one line: trailing line breaks dropped, each inner CR, LF or
// CR LF turned into one space.
std::string OneLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line.push_back(' ');
    } else {
      line.push_back(c);
    }
  }
  return line;
}

}  // namespace

void MsgBox(std::string_view text) {
  try {
    MessageSink sink;
    {
      std::lock_guard<std::mutex> lock(SinkMutex());
      sink = Sink();
    }
    // The sink runs unlocked, so that it may itself replace the sink.
    if (sink) {
      sink(text);
      return;
    }
    std::lock_guard<std::mutex> lock(SinkMutex());
    std::string line(kAppTitle);
    line += ": ";
    line += OneLine(text);
    line += '\n';
    line = platform::ToAnsi(line);  // the terminal shows the locale's charset
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  } catch (...) {
    // A message that cannot be shown is dropped; showing one never fails the
    // caller.
  }
}

MessageSink SetMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  return std::exchange(Sink(), std::move(sink));
}

}  // namespace zorvex
