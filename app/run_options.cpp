#include "app/run_options.h"

#include <charconv>
#include <string_view>

namespace zorvex {
namespace {

// "--name=value" gives its value; `*has` tells whether it had one.
std::string_view InlineValue(std::string_view argument, bool* has) {
  const size_t equals = argument.find('=');
  *has = argument.rfind("--", 0) == 0 && equals != std::string_view::npos;
  return *has ? argument.substr(equals + 1) : std::string_view();
}

std::string_view Name(std::string_view argument) {
  if (argument.rfind("--", 0) != 0) return argument;
  return argument.substr(0, argument.find('='));
}

bool ParseCount(std::string_view text, int* out) {
  int value = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0 ||
      value > kMaxRetries)
    return false;
  *out = value;
  return true;
}

}  // namespace

ParsedOptions ParseRunOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  RunOptions& o = parsed.options;
  // --help and --version are the whole command line, or part of the tail.
  if (arguments.size() == 1) {
    o.help = arguments[0] == "--help";
    o.version = arguments[0] == "--version";
    if (o.help || o.version) return parsed;
  }
  size_t& i = parsed.consumed;
  while (i < arguments.size()) {
    const std::string_view argument = arguments[i];
    if (argument.empty() || argument[0] != '-' || argument == "--help" ||
        argument == "--version")
      break;
    ++i;
    if (argument == "--") break;
    bool has_inline = false;
    std::string_view value = InlineValue(argument, &has_inline);
    const std::string_view name = Name(argument);
    const bool takes_value =
        name == "-c" || name == "--settings" || name == "--retry";
    if (has_inline && !takes_value) {
      parsed.error = "option " + std::string(name) + " takes no value";
      return parsed;
    }
    if (takes_value && !has_inline) {
      if (i == arguments.size()) {
        parsed.error = "option " + std::string(name) + " needs a value";
        return parsed;
      }
      value = arguments[i++];
    }
    if (name == "-v" || name == "--verbose") {
      o.verbose = true;
    } else if (name == "--progress") {
      o.progress = true;
    } else if (name == "--atomic") {
      o.atomic = true;
    } else if (name == "-c" || name == "--settings") {
      if (value.empty()) {
        parsed.error = "option " + std::string(name) + " needs a file name";
        return parsed;
      }
      o.settings = std::string(value);
    } else if (name == "--retry") {
      if (!ParseCount(value, &o.retries)) {
        parsed.error = "option --retry needs a count from 0 to " +
                       std::to_string(kMaxRetries) + ", not \"" +
                       std::string(value) + "\"";
        return parsed;
      }
    } else {
      parsed.error = "unknown option " + std::string(argument);
      return parsed;
    }
  }
  return parsed;
}

}  // namespace zorvex
