#include <atomic>

#include "library/com/object.h"

namespace vellum::com {
namespace {
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
}  // namespace

void ModuleObjectCreated() {
  ++g_objects;
}
void ModuleObjectDestroyed() {
  --g_objects;
}
void ModuleLock(bool lock) {
  if (lock) {
    ++g_locks;
  } else if (g_locks > 0) {
    --g_locks;
  }
}
bool ModuleCanUnload() {
  return g_objects == 0 && g_locks == 0;
}
long ModuleObjectCount() {
  return g_objects;
}

}  // namespace vellum::com
