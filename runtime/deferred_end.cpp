// Ends held back on a worker thread: a siglongjmp back into RunDeferringEnds.
#include "runtime/deferred_end.hpp"

#include <cfenv>
#include <csetjmp>

#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"

namespace zanfel {

namespace {

// The held-back end of the work running on this thread, if any.
struct Deferral {
  sigjmp_buf jump;
  DeferredEnd *end;
};
thread_local Deferral *deferral = nullptr;

} // namespace

bool EndsDeferred() {
  return deferral != nullptr;
}

void DeferEnd(DeferredEnd::Kind kind, int code) {
  Deferral *d = deferral;
  d->end->kind = kind;
  d->end->code = code;
  siglongjmp(d->jump, 1);
}

void DeferReport(int code, std::string_view suffix) {
  deferral->end->suffix.assign(suffix);
  DeferEnd(DeferredEnd::Kind::Report, code);
}

std::string &DeferredSuffix() {
  return deferral->end->suffix;
}

DeferredEnd RunDeferringEnds(void (*work)(void *), void *ctx) {
  DeferredEnd end;
  fenv_t env;
  fegetenv(&env);
  Deferral d{};
  d.end = &end;
  Deferral *outer = deferral;
  if (sigsetjmp(d.jump, 1) == 0) {
    deferral = &d;
    work(ctx);
  } else {
    // After a trap the kernel left the handler's clean, all-masked state:
    // the traps come back with the environment of the work's start.
    feclearexcept(FE_ALL_EXCEPT);
    fesetenv(&env);
  }
  deferral = outer;
  return end;
}

void EndAsDeferred(const DeferredEnd &end) {
  switch (end.kind) {
  case DeferredEnd::Kind::Trap:
    EndWith(ExitKind::Trap, end.code);
  case DeferredEnd::Kind::Report:
    // Every reported end outside a trap takes the fatal-end work first.
    EndWith(ExitKind::Report, end.code, end.suffix);
  case DeferredEnd::Kind::Fatal:
  case DeferredEnd::Kind::None:
    break;
  }
  FatalEnd(end.code);
}

} // namespace zanfel
