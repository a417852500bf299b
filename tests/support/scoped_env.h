// Sets or removes one environment variable for a test's lifetime and puts
// back what was there before.
#pragma once

#include <optional>
#include <string>

namespace testsupport {

class ScopedEnv {
 public:
  // `value` nullopt removes the variable.
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

}  // namespace testsupport
