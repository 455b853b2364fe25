#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmar::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log) {
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    const int out = log.empty() ? devnull : open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(devnull, 0);
    dup2(out >= 0 ? out : devnull, 1);
    dup2(out >= 0 ? out : devnull, 2);
    execv(argp[0], argp.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  Stop();
}

bool ChildProcess::Exited() {
  if (pid_ <= 0) return true;
  if (waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
  pid_ = -1;
  return true;
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void ChildProcess::Stop(int graceMs) {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int waited = 0; waited < graceMs; waited += 20) {
    if (Exited()) return;
    usleep(20000);
  }
  Kill();
}

}  // namespace velmar::testing
