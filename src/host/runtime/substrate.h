// MSHookMessageEx: replacing a method of a host class, the way the hooking
// host lets an extension do it.
//
// MSHookMessageEx(cls, selector, replacement, &slot):
//   - From then on, instances of `cls` (and of its subclasses that do not
//     override the method themselves) run `replacement` for `selector`.
//   - `slot` receives the implementation that ran before: the class's own, or
//     the inherited one when the class only inherited the method. The
//     replacement calls it with its own arguments unchanged.
//   - Hooking the same method again chains: the new replacement's slot
//     receives the previous replacement.
//   - A nullptr class (objc_getClass found none), a class without the method
//     in its chain, or a replacement whose signature differs from the
//     method's is ignored: nothing changes and `slot` is not written.
// It never raises.
#pragma once

#include "host/runtime/objc.h"

template <class R, class... A>
void MSHookMessageEx(Class cls, SEL selector, R (*replacement)(id, SEL, A...),
                     R (**result)(id, SEL, A...)) {
  IMP previous = nullptr;
  if (objc_detail::hookMessage(cls, selector,
                               {reinterpret_cast<IMP>(replacement), &typeid(R(*)(id, SEL, A...))},
                               &previous) &&
      result) {
    *result = reinterpret_cast<R (*)(id, SEL, A...)>(previous);
  }
}
