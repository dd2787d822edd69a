#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "mosaren/Console.h"

namespace meridane::test {

// What mosaren's console said, run in this process.
struct TConsoleRun {
  int Status = 0;
  std::string Out, Err;
};

// args: what follows the program's name.
inline TConsoleRun RunConsole(std::vector<std::string> args, const TCombineEnvironment& env) {
  args.insert(args.begin(), "mosaren");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  const int status = RunCombineConsole(static_cast<int>(argv.size()), argv.data(), out, err, env);
  return {status, out.str(), err.str()};
}

}  // namespace meridane::test
