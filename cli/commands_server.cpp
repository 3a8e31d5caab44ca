// register, unregister and open: the commands that talk to the server module as a whole.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <ostream>

#include "cli/com_call.h"
#include "cli/commands.h"
#include "cli/run.h"
#include "cli/safe_text.h"
#include "library/com/bstr.h"
#include "library/com/client.h"
#include "library/com/guid.h"
#include "library/com/registry.h"
#include "library/platform/error.h"
#include "vellum/vellum.h"

namespace vellum::cli {
namespace {

using ServerFn = com::HRESULT (*)();

// The registry's own reading of what is wrong with its file, for a failed (un)registration.
std::string RegistryProblem() {
  try {
    com::Registry::Load(com::RegistryPath());
  } catch (const Error& e) {
    return e.description();
  }
  return "the registry file " + com::RegistryPath() + " cannot be written";
}

// Loads `library` and calls one of its registration functions.
int CallServerFunction(Context& ctx, const std::string& library, const char* function,
                       const char* done) {
  void* module = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = ::dlerror();
    ctx.err << "vellum: cannot load " << library << ": " << (why != nullptr ? why : "unknown")
            << "\n";
    return kFailed;
  }
  auto fn = reinterpret_cast<ServerFn>(::dlsym(module, function));
  if (fn == nullptr) {
    ctx.err << "vellum: " << library << " is not a Vellum server (no " << function << ")\n";
    ::dlclose(module);
    return kFailed;
  }
  com::HRESULT hr = fn();
  ::dlclose(module);
  if (com::Failed(hr)) {
    ctx.err << "vellum: " << function << " failed (" << HexHr(hr) << "): " << RegistryProblem()
            << "; the file was left unchanged\n";
    return kFailed;
  }
  ctx.Report() << done << " " << library << " in " << com::RegistryPath() << "\n";
  return kOk;
}

// With --system, (un)registration works on the system registry for the length of one command:
// the library writes where $VELLUM_REGISTRY points, so the command points it there and puts
// the earlier value back.
class SystemRegistryScope {
 public:
  explicit SystemRegistryScope(bool system) : active_(system) {
    if (!active_) return;
    if (const char* old = std::getenv("VELLUM_REGISTRY"); old != nullptr) old_ = old;
    ::setenv("VELLUM_REGISTRY", com::SystemRegistryPath().c_str(), 1);
  }
  ~SystemRegistryScope() {
    if (!active_) return;
    if (old_)
      ::setenv("VELLUM_REGISTRY", old_->c_str(), 1);
    else
      ::unsetenv("VELLUM_REGISTRY");
  }
  SystemRegistryScope(const SystemRegistryScope&) = delete;
  SystemRegistryScope& operator=(const SystemRegistryScope&) = delete;

 private:
  bool active_;
  std::optional<std::string> old_;
};

// The system registry is read by every user, whatever the umask of the administrator who
// wrote it: the file becomes 0644 and its vellum folder, when root's own, 0755. Nothing is
// followed through a link.
void MakeSystemRegistryReadable() {
  const std::string path = com::SystemRegistryPath();
  const std::string folder = path.substr(0, path.rfind('/'));
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return;
  struct stat st {};
  if (::fstat(dir, &st) == 0 && st.st_uid == ::geteuid()) (void)::fchmod(dir, 0755);
  const int file = ::openat(dir, "registry.ini", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file >= 0) {
    if (::fstat(file, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
      (void)::fchmod(file, 0644);
    ::close(file);
  }
  ::close(dir);
}

}  // namespace

int CmdRegister(Context& ctx) {
  if (ctx.args.size() > 1) return kUsage;
  const bool system = ctx.options.Has("system");
  SystemRegistryScope scope(system);
  const std::string library = ctx.args.empty() ? DefaultLibraryPath() : ctx.args[0];
  const int code = CallServerFunction(ctx, library, "DllRegisterServer", "Registered");
  if (system && code == kOk) MakeSystemRegistryReadable();
  return code;
}

int CmdUnregister(Context& ctx) {
  if (ctx.args.size() > 1) return kUsage;
  SystemRegistryScope scope(ctx.options.Has("system"));
  std::string library = ctx.args.empty() ? std::string() : ctx.args[0];
  if (library.empty()) {
    // The library named in the registry this command changes, not one the system registers
    // for everybody.
    std::optional<std::string> registered;
    try {
      registered =
          com::Registry::Load(com::RegistryPath())
              .Value("CLSID\\" + com::GuidToString(CLSID_DigitalSign) + "\\InprocServer32");
    } catch (const Error&) {
      ctx.err << "vellum: " << EscapeControls(RegistryProblem()) << "\n";
      return kFailed;
    }
    if (!registered || registered->empty()) {
      ctx.Report() << "Vellum is not registered in " << EscapeControls(com::RegistryPath()) << "\n";
      return kOk;
    }
    library = *registered;
  }
  return CallServerFunction(ctx, library, "DllUnregisterServer", "Unregistered");
}

int CmdOpen(Context& ctx) {
  if (ctx.args.size() != 1) return kUsage;
  auto sign = Create<_DigitalSign>(CLSID_DigitalSign, IID__DigitalSign, "DigitalSign", ctx.err);
  if (!sign) return kFailed;
  com::Bstr doc(ctx.args[0]);
  com::Bstr message("");
  VARIANT_BOOL opened = com::VARIANT_FALSE;
  com::HRESULT hr = sign->StartDoc(doc.Address(), message.Address(), &opened);
  if (com::Failed(hr)) {
    ctx.err << "vellum: StartDoc failed (" << HexHr(hr) << ")\n";
    return kFailed;
  }
  ctx.out << EscapeControls(message.Utf8(), true) << "\n";
  return opened == com::VARIANT_TRUE ? kOk : kFailed;
}

}  // namespace vellum::cli
