#include "library/platform/shell_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "library/platform/files.h"

namespace vellum::platform {
namespace {

std::mutex g_mutex;
ShellOpener& TestOpener() {
  static ShellOpener opener;
  return opener;
}

bool SecretName(std::string_view name) {
  if (name.starts_with("VELLUM_")) return true;
  std::string upper(name);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (std::string_view word : {"PASSWORD", "PASSWD", "PASSPHRASE", "SECRET"})
    if (upper.find(word) != std::string::npos) return true;
  return false;
}

// A null-terminated array of pointers into `strings`, as execv and execve take them; built
// before fork, since the child may not allocate.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// The full path of `program` on $PATH, or empty.
std::string FindProgram(std::string_view program) {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    std::size_t colon = dirs.find(':');
    // An empty entry is the current folder. Built with append: GCC 12 at -O2 and above
    // reports a false -Wrestrict on assigning or prepending a literal to a std::string.
    std::string_view dir = dirs.substr(0, colon);
    std::string candidate(dir.empty() ? std::string_view(".") : dir);
    candidate += '/';
    candidate += program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return {};
    dirs.remove_prefix(colon + 1);
  }
}

// Runs a short query program and returns its first output line ("" when it fails).
std::string QueryLine(std::vector<std::string> argv) {
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  FileDescriptor read_end(fds[0]);
  FileDescriptor write_end(fds[1]);
  pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::dup2(write_end.get(), STDOUT_FILENO);
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, STDIN_FILENO);
      ::dup2(devnull, STDERR_FILENO);
    }
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  write_end.close();
  std::string out;
  char buffer[512];
  ssize_t n = 0;
  while ((n = ::read(read_end.get(), buffer, sizeof buffer)) > 0 && out.size() < 4096)
    out.append(buffer, static_cast<std::size_t>(n));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return out.substr(0, out.find('\n'));
}

// Starts argv detached (a grandchild adopted by init, so no zombie is left) and reports
// whether the program could be executed.
bool StartDetached(std::vector<std::string> argv) {
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  FileDescriptor read_end(fds[0]);
  FileDescriptor write_end(fds[1]);
  pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      ::dup2(devnull, STDIN_FILENO);
      ::dup2(devnull, STDOUT_FILENO);
      ::dup2(devnull, STDERR_FILENO);
    }
    ::execve(args[0], args.data(), envp.data());
    int err = errno;
    (void)!::write(write_end.get(), &err, sizeof err);  // exec failed: tell the parent
    ::_exit(127);
  }
  write_end.close();
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  // The pipe closes on a successful exec (close-on-exec) or carries the exec's errno.
  ssize_t n = ::read(read_end.get(), &err, sizeof err);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n <= 0;
}

int RealShellOpen(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    std::string folder = PathToUtf8(PathFromUtf8(path).parent_path());
    return (errno == ENOTDIR || (!folder.empty() && !FolderExists(folder))) ? 3 : 2;
  }
  std::string xdg_open = FindProgram("xdg-open");
  std::string gio = xdg_open.empty() ? FindProgram("gio") : std::string();
  if (xdg_open.empty() && gio.empty()) return 32;
  // With the desktop's MIME tools present, a type nobody handles is "no association".
  if (std::string xdg_mime = FindProgram("xdg-mime"); !xdg_mime.empty()) {
    std::string type = QueryLine({xdg_mime, "query", "filetype", path});
    if (!type.empty() && QueryLine({xdg_mime, "query", "default", type}).empty()) return 31;
  }
  bool started =
      !xdg_open.empty() ? StartDetached({xdg_open, path}) : StartDetached({gio, "open", path});
  return started ? kShellOpenStarted : 32;
}

}  // namespace

std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> out;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view item(*entry);
    if (!SecretName(item.substr(0, item.find('=')))) out.emplace_back(item);
  }
  return out;
}

int ShellOpen(const std::string& path) {
  ShellOpener opener;
  {
    std::lock_guard lock(g_mutex);
    opener = TestOpener();
  }
  return opener ? opener(path) : RealShellOpen(path);
}

void SetShellOpenerForTesting(ShellOpener opener) {
  std::lock_guard lock(g_mutex);
  TestOpener() = std::move(opener);
}

}  // namespace vellum::platform
