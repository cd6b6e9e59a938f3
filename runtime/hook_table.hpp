// A fixed table of hooks that signal handlers run: the end hooks and the job
// stop hooks. Internal to runtime/.
#pragma once

#include <csignal>

namespace zanfel {

using EndHook = void (*)();
constexpr int kMaxEndHooks = 4;

// A slot is filled before the count grows, so that a handler never sees a
// slot that is not yet written. Adding a hook twice keeps one.
struct HookTable {
  volatile EndHook hooks[kMaxEndHooks] = {};
  volatile sig_atomic_t count = 0;

  bool Add(EndHook hook) {
    for (sig_atomic_t i = 0; i < count; ++i)
      if (hooks[i] == hook)
        return true;
    if (count >= kMaxEndHooks)
      return false;
    hooks[count] = hook;
    count = count + 1;
    return true;
  }
  void Run() const {
    for (sig_atomic_t i = 0; i < count; ++i) {
      EndHook hook = hooks[i];
      if (hook)
        hook();
    }
  }
};

} // namespace zanfel
