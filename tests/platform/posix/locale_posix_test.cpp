// The locale on POSIX systems: the user's language from the locale, or from
// the environment while the program still runs in the C locale.
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/locale.h"

namespace platform {
namespace {

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(LocalePosixTest, LanguageFromTheEnvironmentInTheCLocale) {
  ASSERT_NE(std::setlocale(LC_MESSAGES, "C"), nullptr);
  {
    ScopedEnv all("LC_ALL", nullptr), msg("LC_MESSAGES", nullptr),
        lang("LANG", "ja_JP.UTF-8");
    EXPECT_TRUE(UserLanguageIsJapanese());
  }
  {
    ScopedEnv all("LC_ALL", ""), msg("LC_MESSAGES", "en_US.UTF-8"),
        lang("LANG", "ja_JP.UTF-8");
    EXPECT_FALSE(UserLanguageIsJapanese());  // LC_MESSAGES wins over LANG
  }
  {
    ScopedEnv all("LC_ALL", "ja_JP.eucJP"), msg("LC_MESSAGES", "en_US"),
        lang("LANG", "C");
    EXPECT_TRUE(UserLanguageIsJapanese());  // LC_ALL wins over both
  }
  {
    ScopedEnv all("LC_ALL", nullptr), msg("LC_MESSAGES", nullptr),
        lang("LANG", nullptr);
    EXPECT_FALSE(UserLanguageIsJapanese());
  }
}

}  // namespace
}  // namespace platform
