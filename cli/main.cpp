// hvt: the command line over the headless host.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <iostream>
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

}  // namespace hvt::cli

int main(int argc, char** argv) {
  using namespace hvt::cli;
  CLI::App app{"hvt: run the HVT add-in's worksheet functions over CSV data in a headless host"};
  app.require_subcommand(1);
  std::vector<Verb> verbs{AddEval(app), AddCore(app), AddSession(app)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    Complain(e.what());
    return kUsage;
  }
  for (const Verb& verb : verbs)
    if (verb.command->parsed()) return verb.run();
  Complain("no verb given (try hvt --help)");
  return kUsage;
}
