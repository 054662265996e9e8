// A calendar date and time to the second, without time zone, kept as an
// automation date: a double counting days from 30 December 1899, 00:00:00
// (the zero value). Days before that moment are negative, with the time of
// day counted forward from the day's start.
#ifndef ZORVEX_FTP_DATE_H_
#define ZORVEX_FTP_DATE_H_

#include <optional>
#include <string>
#include <string_view>

namespace zorvex {

class Date {
 public:
  // The zero date, 30 December 1899, 00:00:00.
  constexpr Date() = default;
  // The date for an automation-date double.
  static constexpr Date FromDouble(double value) { return Date(value); }
  // The date for calendar fields; nullopt when a field is out of range
  // (year 100..9999, month 1..12, a day of that month, 0..23, 0..59, 0..59).
  static std::optional<Date> FromFields(int year, int month, int day, int hour,
                                        int minute, int second);
  // Reads "year/month/day hour:minute:second" (decimal numbers without fill);
  // nullopt when the text is not such a date.
  static std::optional<Date> Parse(std::string_view text);

  double ToDouble() const { return value_; }
  // Calendar fields, exact to the second (the time is rounded to the nearest
  // second). A value outside years 100..9999, or NaN, reads as the nearest
  // end of that range (NaN as the zero date).
  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const;
  int Minute() const;
  int Second() const;
  // "YYYY-MM-DD hh:mm:ss".
  std::string ToString() const;

  friend bool operator==(const Date&, const Date&) = default;

 private:
  constexpr explicit Date(double value) : value_(value) {}
  double value_ = 0.0;
};

}  // namespace zorvex

#endif  // ZORVEX_FTP_DATE_H_
