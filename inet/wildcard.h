// Matching of file names against search patterns, done by the client itself so
// that a listing does not depend on how a server globs.
#ifndef ZORVEX_INET_WILDCARD_H_
#define ZORVEX_INET_WILDCARD_H_

#include <string_view>

namespace inet {

// True when name matches pattern as a whole. "*" matches any run of
// characters (also none), "?" exactly one character; every other character
// matches itself, case-sensitively. Characters are UTF-8 sequences: "?"
// consumes a whole multibyte character, and a byte that is not valid UTF-8
// counts as one character. Runs in O(|pattern| * |name|) time at worst and
// constant extra space, whatever the pattern.
bool MatchWildcard(std::string_view pattern, std::string_view name);

// True when text holds "*" or "?".
bool HasWildcard(std::string_view text);

}  // namespace inet

#endif  // ZORVEX_INET_WILDCARD_H_
