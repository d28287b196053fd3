// The exception guard that every entry point of the library wraps its own
// work in.
//
// guarded(work) runs work(). An NSException, or an exception of a subclass,
// raised inside it is caught and dropped without a trace: no message, no log,
// no result. The function then simply returns; whatever work() had already
// done stays done. Exceptions of every other type travel on to the caller.
#pragma once

#include <utility>

#include "state/ns_exception.h"

template <class Work>
inline void guarded(Work&& work) {
  try {
    std::forward<Work>(work)();
  } catch (const NSException&) {
    // Dropped on purpose: the library never reports a failure.
  }
}
