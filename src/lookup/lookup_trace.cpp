#include "lookup/lookup_trace.h"

namespace {

LookupTrace* currentTrace = nullptr;

}  // namespace

void setLookupTrace(LookupTrace* trace) {
  currentTrace = trace;
}

LookupTrace* lookupTrace() {
  return currentTrace;
}
