#include "tests/e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace fwload::e2e {

RunResult run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              int timeout_ms, std::vector<SignalAt> signals) {
  RunResult result;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    const int null_in = open("/dev/null", O_RDONLY);
    dup2(null_in, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    for (const auto& [name, value] : env) {
      if (value == "\x01") {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  // The output is read until the program has ended. Programs it started may keep the pipes
  // open after that (Wine's background services do), so the end of the pipes is not awaited.
  fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
  fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  auto drain = [&] {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0) continue;
      char buffer[65536];
      for (;;) {
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
          continue;
        }
        if (n == 0) {  // the pipe's end: nobody writes to it any more
          close(fds[i].fd);
          fds[i].fd = -1;
        }
        break;
      }
    }
  };
  int status = 0;
  bool exited = false, killed = false;
  // When each signal's text was first seen (unset: not yet), and whether it was sent.
  std::vector<std::optional<std::chrono::steady_clock::time_point>> seen(signals.size());
  std::vector<bool> sent(signals.size(), false);
  while (!exited) {
    poll(fds, 2, 10);
    drain();
    const auto now = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < signals.size(); ++i) {
      const std::string& text = signals[i].on_stdout ? result.out : result.err;
      if (!seen[i] && text.find(signals[i].when) != std::string::npos) seen[i] = now;
      if (seen[i] && !sent[i] && now - *seen[i] >= std::chrono::milliseconds(signals[i].after_ms)) {
        kill(pid, signals[i].signal);
        sent[i] = true;
      }
    }
    exited = waitpid(pid, &status, WNOHANG) == pid;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      killed = true;
      exited = true;
    }
  }
  drain();
  for (pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  if (!killed && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

Background::Background(const std::vector<std::string>& argv) {
  pid_ = fork();
  if (pid_ == 0) {
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
}

Background::~Background() {
  stop();
}

bool Background::wait_for_file(const std::string& path, int timeout_ms) const {
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    if (access(path.c_str(), F_OK) == 0) return true;
    usleep(10000);
  }
  return false;
}

int Background::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return -1;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace fwload::e2e
