// Runs the built keytwine binary on files written by the test and captures what it prints.
#ifndef KEYTWINE_TESTS_TOOLS_CLI_HARNESS_H
#define KEYTWINE_TESTS_TOOLS_CLI_HARNESS_H

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace keytwine::testing {

struct CliResult {
  std::string out;
  std::string err;
  int status;
};

class CliHarness {
 public:
  CliHarness() {
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("keytwine-cli-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
  }
  ~CliHarness() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  CliHarness(const CliHarness&) = delete;
  CliHarness& operator=(const CliHarness&) = delete;

  // Writes a file in the test's folder and returns its path.
  std::string Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = dir_ / name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs `keytwine ARGS` (ARGS already quoted for the shell), standard input from `input`.
  CliResult Run(const std::string& args, const std::string& input = "") {
    const std::string in = Write(".stdin", input);
    const std::string out = Path(".stdout"), err = Path(".stderr");
    const std::string command =
        std::string(KEYTWINE_BINARY) + " " + args + " <'" + in + "' >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return {Read(out), Read(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
  }

  static std::string Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace keytwine::testing

#endif  // KEYTWINE_TESTS_TOOLS_CLI_HARNESS_H
