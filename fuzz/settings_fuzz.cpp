// Reads arbitrary bytes as a settings file the way the run does (three text
// fields, two numbers, one text) and then field by field to the end, checking
// that only the documented run-time errors come out, that fields stay within
// their bound and that the reader always moves on. Then writes fuzzed fields
// quoted and unquoted into a file and checks that they read back unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_error.h"
#include "app/settings_reader.h"
#include "fuzz/fuzz_check.h"

namespace {

bool Documented(const zorvex::RunError& e) {
  return e.number() == zorvex::kErrInputPastEnd ||
         e.number() == zorvex::kErrTypeMismatch ||
         e.number() == zorvex::kErrOverflow;
}

void ReadLikeTheRun(const std::string& bytes) {
  std::istringstream in(bytes, std::ios::binary);
  zorvex::SettingsReader reader(in);
  if (reader.AtEnd()) {
    Check(bytes.empty());
    return;
  }
  try {
    for (int i = 0; i < 3; ++i) {
      Check(reader.InputString().size() <= zorvex::SettingsReader::kMaxFieldBytes);
    }
    reader.InputLong();
    reader.InputLong();
    reader.InputString();
  } catch (const zorvex::RunError& e) {
    Check(Documented(e));
  }
}

void ReadToTheEnd(const std::string& bytes) {
  std::istringstream in(bytes, std::ios::binary);
  zorvex::SettingsReader reader(in);
  // Every field takes at least one byte, except one empty field after a
  // final comma.
  for (size_t fields = 0; fields <= bytes.size() + 1; ++fields) {
    try {
      Check(reader.InputString().size() <= zorvex::SettingsReader::kMaxFieldBytes);
    } catch (const zorvex::RunError& e) {
      Check(e.number() == zorvex::kErrInputPastEnd);
      Check(reader.AtEnd());
      return;
    }
  }
  Check(false);  // the reader did not reach the end
}

bool Separator(char c) { return c == ',' || c == '\r' || c == '\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  // Fields to write back.
  struct Field {
    bool quoted;
    bool comma;  // ends with a comma, else with CR LF
    std::string text;
  };
  std::vector<Field> fields;
  const auto count = provider.ConsumeIntegralInRange<int>(0, 8);
  for (int i = 0; i < count; ++i) {
    const bool quoted = provider.ConsumeBool();
    const bool comma = provider.ConsumeBool();
    fields.push_back({quoted, comma, provider.ConsumeRandomLengthString(40)});
  }
  const std::string bytes = provider.ConsumeRemainingBytesAsString();

  ReadLikeTheRun(bytes);
  ReadToTheEnd(bytes);
  try {
    zorvex::ParseLong(bytes);
  } catch (const zorvex::RunError& e) {
    Check(e.number() == zorvex::kErrTypeMismatch ||
          e.number() == zorvex::kErrOverflow);
  }

  // Round trip. A quoted field may hold anything but a quote; an unquoted one
  // no separator or quote, and no blank at either end.
  std::string file;
  for (auto& [quoted, comma, text] : fields) {
    for (char& c : text) {
      if (c == '"' || (!quoted && Separator(c))) c = '_';
    }
    if (!quoted) {
      while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.erase(0, 1);
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    }
    file += quoted ? "\"" + text + "\"" : text;
    file += comma ? "," : "\r\n";
  }
  std::istringstream in(file, std::ios::binary);
  zorvex::SettingsReader reader(in);
  for (const Field& field : fields) {
    Check(reader.InputString() == field.text);
  }
  return 0;
}
