// hvt: the command line over the headless host.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <iostream>
#include <new>
#include <vector>

#include "cli/verbs.h"

namespace hvt::cli {

std::string ProgramDirectory() {
  std::vector<char> buffer(4096);
#ifdef _WIN32
  DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return ".";
  std::string path(buffer.data(), n);
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
#else
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return ".";
  std::string path(buffer.data(), static_cast<std::size_t>(n));
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
#endif
}

void Complain(const std::string& message) { std::cerr << "hvt: " << message << '\n'; }

int Failed(const std::exception& failure, const std::string& where) {
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
    Complain(where + "insufficient memory");
    return kErrorResult;
  }
  Complain(where + failure.what());
  return kUsage;
}

namespace {

// The words naming a verb that does not exist ("evl", "core klxx"), or ""
// when every verb word names one.
std::string UnknownVerb(CLI::App& app, int argc, char** argv) {
  CLI::App* at = &app;
  std::string named;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word.empty() || word[0] == '-' || at->get_subcommands({}).empty()) return "";
    CLI::App* verb = nullptr;
    for (CLI::App* sub : at->get_subcommands({}))
      if (sub->check_name(word)) verb = sub;
    if (verb == nullptr) return named + word;
    named += word + " ";
    at = verb;
  }
  return "";
}

}  // namespace

}  // namespace hvt::cli

int main(int argc, char** argv) {
  using namespace hvt::cli;
  CLI::App app{"hvt: run the HVT add-in's worksheet functions over CSV data in a headless host"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("hvt ") + HVT_VERSION);
  std::vector<Verb> verbs{AddEval(app), AddCore(app), AddSession(app)};
  if (std::string unknown = UnknownVerb(app, argc, argv); !unknown.empty()) {
    Complain("unknown command '" + unknown + "' (try hvt --help)");
    return kUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Complain(e.what());
    return kUsage;
  }
  for (const Verb& verb : verbs) {
    if (!verb.command->parsed()) continue;
    try {
      return verb.run();
    } catch (const std::exception& failure) {
      return Failed(failure);
    }
  }
  Complain("no verb given (try hvt --help)");
  return kUsage;
}
