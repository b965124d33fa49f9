#include "platform/posix/run_program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int RunProgram(const char* who, const std::filesystem::path& program,
               const std::vector<std::string>& args, const std::function<void()>& in_child) {
  // Nothing buffered may be written twice, by the parent and by the child.
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (in_child) in_child();
    std::vector<char*> argv;
    std::string name = program.string();
    argv.push_back(name.data());
    std::vector<std::string> copy = args;
    for (auto& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(name.c_str(), argv.data());
    std::fprintf(stderr, "%s: cannot start %s: %s\n", who, name.c_str(), std::strerror(errno));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}
