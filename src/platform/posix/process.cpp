// Running another program of the host and collecting what it prints.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/unicode.h"

extern char** environ;

namespace plat {
namespace {

// Closes the descriptors it holds when the run ends, however it ends.
struct Pipe {
  int fd[2] = {-1, -1};
  ~Pipe() {
    CloseEnd(0);
    CloseEnd(1);
  }
  void CloseEnd(int end) {
    if (fd[end] >= 0) ::close(fd[end]);
    fd[end] = -1;
  }
};

// Feeds `input` and drains the output at once, so that neither side waits on a full pipe.
// The child closing its input early is not a failure of ours: what it printed tells why.
void Exchange(Pipe& to_child, Pipe& from_child, std::string_view input, std::string* output) {
  size_t fed = 0;
  if (input.empty()) to_child.CloseEnd(1);
  char buffer[4096];
  while (from_child.fd[0] >= 0) {
    pollfd fds[2] = {{from_child.fd[0], POLLIN, 0}, {to_child.fd[1], POLLOUT, 0}};
    const nfds_t count = to_child.fd[1] >= 0 ? 2 : 1;
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (count == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t wrote = ::write(to_child.fd[1], input.data() + fed, input.size() - fed);
      if (wrote > 0) fed += static_cast<size_t>(wrote);
      if (wrote < 0 && errno != EINTR && errno != EAGAIN) fed = input.size();
      if (fed == input.size()) to_child.CloseEnd(1);
    }
    if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      const ssize_t got = ::read(from_child.fd[0], buffer, sizeof buffer);
      if (got > 0) {
        output->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        from_child.CloseEnd(0);
      }
    }
  }
}

}  // namespace

bool RunProgram(std::u16string_view program, const std::vector<std::u16string>& arguments, std::string_view input,
                ProgramRun* run) {
  run->exit_code = 0;
  run->output.clear();
  std::vector<std::string> texts;
  texts.push_back(Utf16ToUtf8(program));
  for (const std::u16string& argument : arguments) texts.push_back(Utf16ToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  Pipe to_child, from_child;
  if (::pipe2(to_child.fd, O_CLOEXEC) != 0 || ::pipe2(from_child.fd, O_CLOEXEC) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child.fd[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child.fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, from_child.fd[1], 2);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  to_child.CloseEnd(0);
  from_child.CloseEnd(1);
  if (spawned != 0) {
    posix::SetLastErrorFromErrno(spawned);
    return false;
  }

  // A child that stops reading must not end this process through SIGPIPE.
  sigset_t pipe_signal, previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  Exchange(to_child, from_child, input, &run->output);
  const timespec no_wait{0, 0};
  while (sigtimedwait(&pipe_signal, nullptr, &no_wait) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      posix::SetLastErrorFromErrno(errno);
      return false;
    }
  }
  run->exit_code =
      WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 128u + static_cast<uint32_t>(WTERMSIG(status));
  SetLastError(err::kSuccess);
  return true;
}

std::u16string PathForProgram(std::u16string_view path) {
  const std::u16string full = GetFullPathName(path);
  posix::HostPath host;
  if (full.empty() || !posix::ResolvePath(full, &host)) return {};
  return Utf8ToUtf16(host.host);
}

}  // namespace plat
