#include "support/scoped_env.h"

#include <stdlib.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace testsupport {

namespace {

void put(const std::string& name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  // The C runtime keeps its own copy of the environment (getenv), the system
  // another (ExpandEnvironmentStringsA, new processes). Both must change; only
  // the system's can hold an empty value, which the C runtime takes as
  // "remove".
  ::_putenv_s(name.c_str(), value ? value->c_str() : "");
  ::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
#else
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
#endif
}

}  // namespace

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
  if (const char* old = ::getenv(name_.c_str())) saved_ = old;
  put(name_, value);
}

ScopedEnv::~ScopedEnv() { put(name_, saved_); }

}  // namespace testsupport
