// The hvt command line: each verb adds its subcommand and says how to run it.
#ifndef HVT_CLI_VERBS_H
#define HVT_CLI_VERBS_H

#include <exception>
#include <functional>
#include <string>

#include <CLI/CLI.hpp>

namespace hvt::cli {

// Exit codes shared by every verb.
enum Exit {
  kOk = 0,
  kErrorResult = 1,  // the result is an error value, or memory ran out
  kUsage = 2,        // bad usage, unreadable input, a module that will not load
  kNoValue = 3,      // the function returned no value
};

struct Verb {
  CLI::App* command = nullptr;
  std::function<int()> run;
};

Verb AddEval(CLI::App& app);
Verb AddCore(CLI::App& app);
Verb AddSession(CLI::App& app);

// The directory holding the running hvt binary (for the default add-in).
std::string ProgramDirectory();
// One line on standard error, prefixed "hvt: ".
void Complain(const std::string& message);
// Reports an exception that ends a verb, after `where`: "insufficient
// memory" and kErrorResult for a failed allocation, else its message and
// kUsage.
int Failed(const std::exception& failure, const std::string& where = "");

}  // namespace hvt::cli

#endif  // HVT_CLI_VERBS_H
