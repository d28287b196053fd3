#include "host/runtime/objc.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "host/foundation/messages.h"
#include "state/ns_exception.h"

struct objc_selector {
  std::string name;
};

struct objc_ivar {
  std::string name;
  ptrdiff_t offset;
};

struct objc_class {
  std::string name;
  Class superclass = nullptr;
  Factory factory;
  std::vector<std::unique_ptr<objc_ivar>> ivars;  // this class's own
  size_t slotCount = 0;                           // including the superclasses'
  bool instantiated = false;                      // the layout is fixed once
  bool subclassed = false;                        // either is true
  std::unordered_map<SEL, objc_detail::Method> methods;
  std::unordered_map<SEL, objc_detail::Method> classMethods;
};

namespace {

struct Registry {
  std::map<std::string, std::unique_ptr<objc_selector>, std::less<>> selectors;
  std::map<std::string, std::unique_ptr<objc_class>, std::less<>> classes;
};

Registry& registry() {
  static Registry* instance = new Registry;  // lives for the whole process
  return *instance;
}

id allocInstance(Class cls, SEL) {
  for (Class c = cls; c; c = c->superclass) {
    if (c->factory) {
      for (Class mark = cls; mark; mark = mark->superclass) mark->instantiated = true;
      return c->factory(cls);
    }
  }
  for (Class mark = cls; mark; mark = mark->superclass) mark->instantiated = true;
  return std::make_shared<RuntimeObject>(cls);
}

id initInstance(id self, SEL) {
  return self;
}

}  // namespace

SEL sel_registerName(const char* name) {
  if (!name) return nullptr;
  auto& selectors = registry().selectors;
  auto found = selectors.find(std::string_view(name));
  if (found != selectors.end()) return found->second.get();
  auto made = std::make_unique<objc_selector>(objc_selector{name});
  SEL selector = made.get();
  selectors.emplace(name, std::move(made));
  return selector;
}

const char* sel_getName(SEL selector) {
  return selector ? selector->name.c_str() : "<null selector>";
}

namespace {

Class findClass(std::string_view name) {
  auto& classes = registry().classes;
  auto found = classes.find(name);
  return found == classes.end() ? nullptr : found->second.get();
}

}  // namespace

Class objc_getClass(const char* name) {
  if (!name) return nullptr;
  NSObjectClass();  // the root and the value classes exist from the start
  return findClass(name);
}

Class NSObjectClass() {
  static Class root = [] {
    Class cls = objc_registerClass("NSObject", nullptr);
    class_addClassMethod(cls, sel_registerName("alloc"), &allocInstance);
    class_addMethod(cls, sel_registerName("init"), &initInstance);
    // The classes of the platform's values (values.h).
    for (const char* kind :
         {"NSString", "NSNumber", "NSNull", "NSArray", "NSDictionary", "NSData", "NSDate"}) {
      objc_registerClass(kind, cls);
    }
    return cls;
  }();
  return root;
}

Class objc_registerClass(const char* name, Class superclass, Factory factory) {
  if (!name) return nullptr;
  if (Class existing = findClass(name)) return existing;
  if (superclass) superclass->subclassed = true;
  auto made = std::make_unique<objc_class>();
  made->name = name;
  made->superclass = superclass;
  made->factory = std::move(factory);
  made->slotCount = superclass ? superclass->slotCount : 0;
  Class cls = made.get();
  registry().classes.emplace(name, std::move(made));
  return cls;
}

void class_addIvar(Class cls, const char* name) {
  if (!cls || !name || cls->instantiated || cls->subclassed) return;
  auto ivar = std::make_unique<objc_ivar>(objc_ivar{name, static_cast<ptrdiff_t>(cls->slotCount)});
  cls->ivars.push_back(std::move(ivar));
  ++cls->slotCount;
}

Class object_getClass(const id& object) {
  if (!object) return nullptr;
  if (auto* instance = objectAs<RuntimeObject>(object)) return instance->isa();
  // Platform values belong to the class of their kind's name.
  const char* kind = object->kindName();
  if (Class cls = findClass(kind)) return cls;
  return objc_registerClass(kind, NSObjectClass());
}

const char* class_getName(Class cls) {
  return cls ? cls->name.c_str() : "nil";
}

Class class_getSuperclass(Class cls) {
  return cls ? cls->superclass : nullptr;
}

Ivar class_getInstanceVariable(Class cls, const char* name) {
  if (!name) return nullptr;
  for (Class c = cls; c; c = c->superclass) {
    for (const auto& ivar : c->ivars) {
      if (ivar->name == name) return ivar.get();
    }
  }
  return nullptr;
}

const char* ivar_getName(Ivar ivar) {
  return ivar ? ivar->name.c_str() : nullptr;
}

ptrdiff_t ivar_getOffset(Ivar ivar) {
  return ivar ? ivar->offset : -1;
}

namespace {

// The slot of `ivar` in `object`, or a raised NSUnknownKeyException when the
// object's class chain does not declare that variable.
id& slotOf(const id& object, Ivar ivar) {
  auto* instance = objectAs<RuntimeObject>(object);
  bool declared = false;
  if (instance && ivar) {
    for (Class c = instance->isa(); c && !declared; c = c->superclass) {
      for (const auto& own : c->ivars) declared = declared || own.get() == ivar;
    }
  }
  if (!declared || static_cast<size_t>(ivar->offset) >= instance->slots().size()) {
    // The slot check is a safeguard: layouts are fixed before any instance.
    throw NSException(NSUndefinedKeyException,
                      std::string("[") + (object ? object->kindName() : "nil") +
                          " valueForUndefinedKey:]: no instance variable " +
                          (ivar ? ivar->name : std::string("(null)")));
  }
  return instance->slots()[static_cast<size_t>(ivar->offset)];
}

}  // namespace

id object_getIvar(const id& object, Ivar ivar) {
  if (!object) return nil;
  return slotOf(object, ivar);
}

void object_setIvar(const id& object, Ivar ivar, id value) {
  if (!object) return;
  slotOf(object, ivar) = std::move(value);
}

RuntimeObject::RuntimeObject(Class cls) : isa_(cls), slots_(cls ? cls->slotCount : 0) {
  for (Class c = cls; c; c = c->superclass) c->instantiated = true;
}

const char* RuntimeObject::kindName() const {
  return class_getName(isa_);
}

namespace objc_detail {

void addMethod(Class cls, SEL selector, Method method, bool classMethod) {
  if (!cls || !selector || !method.imp) return;
  (classMethod ? cls->classMethods : cls->methods)[selector] = method;
}

namespace {

const Method* find(Class cls, SEL selector, bool classMethod) {
  for (Class c = cls; c; c = c->superclass) {
    const auto& table = classMethod ? c->classMethods : c->methods;
    auto found = table.find(selector);
    if (found != table.end()) return &found->second;
  }
  return nullptr;
}

}  // namespace

const Method& lookupInstance(const id& receiver, SEL selector) {
  const Method* method = find(object_getClass(receiver), selector, false);
  if (!method) ns::raiseUnrecognized(receiver, sel_getName(selector));
  return *method;
}

const Method& lookupClass(Class cls, SEL selector) {
  const Method* method = cls ? find(cls, selector, true) : nullptr;
  if (!method) {
    throw NSException(NSInvalidArgumentException, std::string("+[") + class_getName(cls) + " " +
                                                      sel_getName(selector) +
                                                      "]: unrecognized selector sent to class");
  }
  return *method;
}

void raiseSignature(const char* receiverName, SEL selector) {
  throw NSException(NSInvalidArgumentException, std::string(receiverName) + " " +
                                                    sel_getName(selector) +
                                                    ": called with a signature other than its own");
}

bool hookMessage(Class cls, SEL selector, Method replacement, IMP* previous) {
  if (!cls || !selector || !replacement.imp) return false;
  const Method* current = find(cls, selector, false);
  if (!current || *current->signature != *replacement.signature) return false;
  IMP before = current->imp;
  cls->methods[selector] = replacement;
  *previous = before;
  return true;
}

}  // namespace objc_detail
