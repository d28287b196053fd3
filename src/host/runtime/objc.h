// The object runtime: classes looked up by name, selectors, per-class method
// tables with single inheritance, named instance variables, and the dispatch
// that every call of a replaceable method goes through.
//
// Ownership and lifetime. Classes and selectors are registered once and live
// for the life of the process; `Class`, `SEL` and `Ivar` are plain pointers
// that never dangle. Instances are Objects reached through `id` (object.h).
//
// What raises NSException (NSInvalidArgumentException):
//   - msg<> sent to an object whose class chain has no method for the
//     selector (the platform's "unrecognized selector");
//   - msg<> called with a signature other than the one the method was
//     registered with (the real platform would crash instead);
//   - object_getIvar / object_setIvar with a variable the object lacks.
// Nothing else here raises. A message to nil does nothing and gives a zero
// value, as on the platform.
//
// Everything here is for the main thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "host/foundation/object.h"

struct objc_class;
struct objc_ivar;
using Class = objc_class*;
using Ivar = const objc_ivar*;
using IMP = void (*)();  // an implementation, stored without its type

// ---- selectors and classes -------------------------------------------------

SEL sel_registerName(const char* name);
const char* sel_getName(SEL selector);

// The class registered under `name`, or nullptr when the process has none.
// NSObject and the classes of the platform values (NSString, NSNumber, ...)
// always exist.
Class objc_getClass(const char* name);
// The class of an object: a runtime object's class, or for a platform value
// (NSString, NSNumber, ...) the class of that name. nullptr for nil.
Class object_getClass(const id& object);
const char* class_getName(Class cls);
Class class_getSuperclass(Class cls);

// ---- instance variables ----------------------------------------------------

// The instance variable `name` of `cls` or of one of its superclasses, or
// nullptr when there is none.
Ivar class_getInstanceVariable(Class cls, const char* name);
const char* ivar_getName(Ivar ivar);
// The position of the variable's slot within an instance.
ptrdiff_t ivar_getOffset(Ivar ivar);
// Reading and writing an object reference held in an instance variable.
id object_getIvar(const id& object, Ivar ivar);
void object_setIvar(const id& object, Ivar ivar, id value);

// ---- runtime objects -------------------------------------------------------

// An instance of a registered class: its class and one slot per instance
// variable of the class chain. Host classes that keep native state (a view's
// frame, a label's text) subclass it.
class RuntimeObject : public Object {
 public:
  explicit RuntimeObject(Class cls);
  const char* kindName() const override;
  Class isa() const { return isa_; }
  std::vector<id>& slots() { return slots_; }

 private:
  Class isa_;
  std::vector<id> slots_;
};

// ---- registering classes (host code) ---------------------------------------

// Makes a new, uninitialised instance of `cls`; used by the `alloc` class
// method. A class without a factory of its own uses its superclass's.
using Factory = std::function<id(Class cls)>;

// Registers a class. `superclass` nullptr makes a root class. Registering a
// name twice returns the existing class unchanged.
Class objc_registerClass(const char* name, Class superclass, Factory factory = nullptr);
// Adds an instance variable; only before the first instance of the class
// (or of a subclass) is made and before a subclass is registered, as the
// layout of instances is fixed from then on. Later calls are ignored.
void class_addIvar(Class cls, const char* name);
// The registered class NSObject: the root of the host's classes, with the
// class method `alloc` (a new instance from the class's factory) and the
// instance method `init` (returns the receiver).
Class NSObjectClass();

namespace objc_detail {

struct Method {
  IMP imp = nullptr;
  const std::type_info* signature = nullptr;  // the typed function-pointer type
};

void addMethod(Class cls, SEL selector, Method method, bool classMethod);
// The method for `selector` on `receiver` (instance methods of its class
// chain) or on the class itself (class methods); raises when there is none.
const Method& lookupInstance(const id& receiver, SEL selector);
const Method& lookupClass(Class cls, SEL selector);
[[noreturn]] void raiseSignature(const char* receiverName, SEL selector);

// Replaces the method of `cls` for `selector` and gives the previous
// implementation in `previous`; false when nothing was replaced. See
// MSHookMessageEx.
bool hookMessage(Class cls, SEL selector, Method replacement, IMP* previous);

template <class Sig>
struct Send;

template <class R, class... A>
struct Send<R(A...)> {
  using Instance = R (*)(id, SEL, A...);
  using ClassLevel = R (*)(Class, SEL, A...);

  template <class... B>
  static R toObject(const id& receiver, SEL selector, B&&... args) {
    if (!receiver) {
      if constexpr (std::is_void_v<R>) {
        return;
      } else {
        return R{};
      }
    }
    const Method& method = lookupInstance(receiver, selector);
    if (*method.signature != typeid(Instance)) raiseSignature(receiver->kindName(), selector);
    return reinterpret_cast<Instance>(method.imp)(receiver, selector, std::forward<B>(args)...);
  }

  template <class... B>
  static R toClass(Class cls, SEL selector, B&&... args) {
    const Method& method = lookupClass(cls, selector);
    if (*method.signature != typeid(ClassLevel)) raiseSignature(class_getName(cls), selector);
    return reinterpret_cast<ClassLevel>(method.imp)(cls, selector, std::forward<B>(args)...);
  }
};

}  // namespace objc_detail

// Adds (or replaces) an instance method. Its signature is recorded: callers
// and replacements must use exactly the same one.
template <class R, class... A>
void class_addMethod(Class cls, SEL selector, R (*imp)(id, SEL, A...)) {
  objc_detail::addMethod(cls, selector, {reinterpret_cast<IMP>(imp), &typeid(R(*)(id, SEL, A...))},
                         false);
}

// Adds (or replaces) a class method, such as +[UIColor whiteColor].
template <class R, class... A>
void class_addClassMethod(Class cls, SEL selector, R (*imp)(Class, SEL, A...)) {
  objc_detail::addMethod(cls, selector,
                         {reinterpret_cast<IMP>(imp), &typeid(R(*)(Class, SEL, A...))}, true);
}

// ---- sending messages --------------------------------------------------------

// Sends a message whose method has the signature `Sig` (the method's result
// and arguments after the receiver and selector), such as
//   CGRect bounds = msg<CGRect()>(window, "bounds");
//   msg<void(id)>(window, "addSubview:", label);
// The arguments are converted to the signature's parameter types.
template <class Sig, class... B>
auto msg(const id& receiver, SEL selector, B&&... args) {
  return objc_detail::Send<Sig>::toObject(receiver, selector, std::forward<B>(args)...);
}
template <class Sig, class... B>
auto msg(const id& receiver, const char* selector, B&&... args) {
  return msg<Sig>(receiver, sel_registerName(selector), std::forward<B>(args)...);
}
// A message to the literal nil is a message to a nil object: it does nothing.
template <class Sig, class... B>
auto msg(std::nullptr_t, const char* selector, B&&... args) {
  return msg<Sig>(id(), selector, std::forward<B>(args)...);
}
// Sends a class message, such as msg<id()>(objc_getClass("UIColor"), "whiteColor").
// Raises NSException for a nullptr class.
template <class Sig, class... B>
auto msg(Class cls, const char* selector, B&&... args) {
  return objc_detail::Send<Sig>::toClass(cls, sel_registerName(selector), std::forward<B>(args)...);
}
