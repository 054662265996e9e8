// Reading fields from a text file with the comma-delimited sequential-input
// rules:
//  - fields are separated by a comma or a line end (CR LF, LF or CR);
//  - spaces and tabs before a field are skipped;
//  - a field that starts with a double quote runs to the closing quote (commas
//    and line ends inside belong to the value, the quotes do not); anything
//    between the closing quote and the next separator is ignored; a quote that
//    is never closed runs to the end of the file;
//  - an unquoted field runs to the next comma or line end, its trailing spaces
//    and tabs removed;
//  - a comma right before the end of the file opens one more, empty, field;
//    reading at the end of the file otherwise raises error 62 "Input past end
//    of file";
//  - a numeric field is a decimal number (sign, fraction and exponent allowed)
//    or &H hexadecimal / &O octal; an empty one reads as 0; any other text
//    raises 13 "Type mismatch"; a fraction rounds to the nearest integer, ties
//    to even; a value outside the 32-bit range raises 6 "Overflow".
// The file is text in the locale's character set; string fields are returned
// in UTF-8. At most kMaxFieldBytes bytes of a field are kept (the rest is read
// and dropped), so a file of any size and content is read in bounded memory.
#ifndef ZORVEX_APP_SETTINGS_READER_H_
#define ZORVEX_APP_SETTINGS_READER_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>

namespace zorvex {

class SettingsReader {
 public:
  static constexpr size_t kMaxFieldBytes = 64 * 1024;

  // `in` should be opened in binary mode; it must outlive the reader.
  explicit SettingsReader(std::istream& in) : in_(in) {}

  // True when no byte is left (the EOF function of sequential input).
  bool AtEnd();

  // The next field as a string (UTF-8).
  std::string InputString();
  // The next field as a 32-bit signed integer.
  int32_t InputLong();

 private:
  // The next field's bytes as they stand in the file; `quoted` tells whether
  // it was enclosed in quotes.
  std::string InputField(bool* quoted);
  int Peek();
  int Get();

  std::istream& in_;
  bool after_comma_ = false;
};

// A numeric field's text as a 32-bit signed integer, by the rules above.
int32_t ParseLong(std::string_view text);

}  // namespace zorvex

#endif  // ZORVEX_APP_SETTINGS_READER_H_
