// The object model shared by every value and object of the platform stand-in.
//
// Every platform value (text, number, dictionary, ...) and every runtime object
// (a label, a window, a call) is an Object reached through `id`, a strong,
// reference-counted reference: the object lives as long as one `id` refers to
// it. The empty `id` is `nil`. Links that must not keep their target alive (a
// view's superview) are held as weak references by the objects themselves.
//
// Objects are not synchronised: the platform runs everything that touches them
// on the process's one main thread.
#pragma once

#include <cstddef>
#include <memory>

class Object : public std::enable_shared_from_this<Object> {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  // The platform class name of this kind of value, such as "NSString". Runtime
  // objects answer with the name of their class.
  virtual const char* kindName() const = 0;
};

using id = std::shared_ptr<Object>;
// The empty reference. A null pointer constant rather than an object, so that
// it needs no construction or destruction of its own.
inline constexpr std::nullptr_t nil = nullptr;

// The platform's boolean and selector types. A selector is an interned name;
// the runtime (runtime/objc.h) hands them out.
using BOOL = bool;
using SEL = const struct objc_selector*;

// A typed view of an object: the object as T, or nullptr when it is nil or of
// another kind. Never raises.
template <class T>
inline T* objectAs(const id& object) {
  return dynamic_cast<T*>(object.get());
}
