#pragma once

#include <sys/resource.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <locale>
#include <optional>
#include <string>
#include <utility>

// Guards for process-wide state a test changes. The tests of one binary share a
// process when it runs alone (or with --gtest_shuffle), so each change must end
// with the test that made it.
namespace meridane::test {

// The C locale of every category and the C++ global locale, as they were.
class TLocaleGuard {
 public:
  TLocaleGuard() : CLocale(std::setlocale(LC_ALL, nullptr)) {}
  ~TLocaleGuard() {
    // A named global locale sets the C locale too, so the C locale comes last.
    std::locale::global(Global);
    std::setlocale(LC_ALL, CLocale.c_str());
  }
  TLocaleGuard(const TLocaleGuard&) = delete;
  TLocaleGuard& operator=(const TLocaleGuard&) = delete;

 private:
  std::string CLocale;  // a copy: the next setlocale may overwrite the returned text
  std::locale Global;
};

// A resource limit, as it was. Only the soft limit is changed: without privileges
// a lowered hard limit cannot be raised again.
class TResourceLimitGuard {
 public:
  explicit TResourceLimitGuard(int resource) : Resource(resource) { ::getrlimit(Resource, &Saved); }
  ~TResourceLimitGuard() { ::setrlimit(Resource, &Saved); }
  TResourceLimitGuard(const TResourceLimitGuard&) = delete;
  TResourceLimitGuard& operator=(const TResourceLimitGuard&) = delete;

  // False when the system refused, e.g. a value above the hard limit.
  bool SetSoft(rlim_t value) const {
    rlimit limit = Saved;
    limit.rlim_cur = value;
    return ::setrlimit(Resource, &limit) == 0;
  }

 private:
  int Resource;
  rlimit Saved{};
};

// The file-creation mask, as it was.
class TUmaskGuard {
 public:
  explicit TUmaskGuard(mode_t mask) : Saved(::umask(mask)) {}
  ~TUmaskGuard() { ::umask(Saved); }
  TUmaskGuard(const TUmaskGuard&) = delete;
  TUmaskGuard& operator=(const TUmaskGuard&) = delete;

 private:
  mode_t Saved;
};

// An environment variable: its old value again, or unset if it had none.
class TEnvironmentGuard {
 public:
  explicit TEnvironmentGuard(std::string name) : Name(std::move(name)) {
    if (const char* value = std::getenv(Name.c_str())) Saved = value;
  }
  ~TEnvironmentGuard() {
    if (Saved)
      ::setenv(Name.c_str(), Saved->c_str(), 1);
    else
      ::unsetenv(Name.c_str());
    Changed();
  }
  TEnvironmentGuard(const TEnvironmentGuard&) = delete;
  TEnvironmentGuard& operator=(const TEnvironmentGuard&) = delete;

  void Set(const std::string& value) const {
    ::setenv(Name.c_str(), value.c_str(), 1);
    Changed();
  }

 private:
  // The time functions read TZ again only on tzset.
  void Changed() const {
    if (Name == "TZ") ::tzset();
  }

  std::string Name;
  std::optional<std::string> Saved;
};

}  // namespace meridane::test
