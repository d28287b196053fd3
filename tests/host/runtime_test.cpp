// The object runtime and method replacement: lookup, inheritance, instance
// variables, dispatch failures and MSHookMessageEx.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/runtime/substrate.h"
#include "state/ns_exception.h"

namespace {

// Every test registers classes under its own names: the registry lives for
// the whole process.

long answer(id, SEL) {
  return 42;
}
long otherAnswer(id, SEL) {
  return 7;
}
id describe(id, SEL, long) {
  return NSString::fromUtf8("base");
}

TEST(RuntimeClasses, LookupByNameAndSuperclassChain) {
  Class base = objc_registerClass("RtLookupBase", NSObjectClass());
  Class derived = objc_registerClass("RtLookupDerived", base);

  EXPECT_EQ(objc_getClass("RtLookupBase"), base);
  EXPECT_EQ(objc_getClass("RtLookupDerived"), derived);
  EXPECT_EQ(objc_getClass("RtNoSuchClass"), nullptr);
  EXPECT_EQ(objc_getClass(nullptr), nullptr);
  EXPECT_STREQ(class_getName(derived), "RtLookupDerived");
  EXPECT_EQ(class_getSuperclass(derived), base);
  EXPECT_EQ(class_getSuperclass(base), NSObjectClass());
  // Registering a name again keeps the first class as it was.
  EXPECT_EQ(objc_registerClass("RtLookupDerived", NSObjectClass()), derived);
  EXPECT_EQ(class_getSuperclass(derived), base);
}

TEST(RuntimeClasses, ObjectGetClassOfInstancesValuesAndNil) {
  Class cls = objc_registerClass("RtKind", NSObjectClass());
  id instance = msg<id()>(cls, "alloc");
  EXPECT_EQ(object_getClass(instance), cls);
  EXPECT_STREQ(instance->kindName(), "RtKind");

  // The value classes exist before any value has been asked for its class.
  EXPECT_NE(objc_getClass("NSDate"), nullptr);
  Class text = object_getClass(NSString::fromUtf8("x"));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(class_getName(text), "NSString");
  EXPECT_EQ(objc_getClass("NSString"), text);
  EXPECT_EQ(object_getClass(NSNumber::integer(1)), objc_getClass("NSNumber"));
  EXPECT_EQ(object_getClass(nil), nullptr);
}

TEST(RuntimeClasses, AllocUsesNearestFactoryAndInitReturnsReceiver) {
  struct Tagged : RuntimeObject {
    using RuntimeObject::RuntimeObject;
  };
  Class base = objc_registerClass("RtFactoryBase", NSObjectClass(),
                                  [](Class c) -> id { return std::make_shared<Tagged>(c); });
  Class derived = objc_registerClass("RtFactoryDerived", base);

  id made = msg<id()>(derived, "alloc");
  ASSERT_NE(objectAs<Tagged>(made), nullptr);
  EXPECT_EQ(object_getClass(made), derived);
  EXPECT_EQ(msg<id()>(made, "init"), made);

  id plain = msg<id()>(objc_registerClass("RtFactoryNone", NSObjectClass()), "alloc");
  EXPECT_NE(objectAs<RuntimeObject>(plain), nullptr);
  EXPECT_EQ(objectAs<Tagged>(plain), nullptr);
}

TEST(RuntimeDispatch, MethodsAreInheritedAndOverridden) {
  Class base = objc_registerClass("RtDispatchBase", NSObjectClass());
  Class derived = objc_registerClass("RtDispatchDerived", base);
  Class overriding = objc_registerClass("RtDispatchOverriding", base);
  class_addMethod(base, sel_registerName("answer"), &answer);
  class_addMethod(overriding, sel_registerName("answer"), &otherAnswer);

  EXPECT_EQ(msg<long()>(msg<id()>(derived, "alloc"), "answer"), 42);
  EXPECT_EQ(msg<long()>(msg<id()>(overriding, "alloc"), "answer"), 7);
  EXPECT_EQ(msg<long()>(msg<id()>(base, "alloc"), "answer"), 42);
}

TEST(RuntimeDispatch, FailuresRaiseAndNilAnswersZero) {
  Class cls = objc_registerClass("RtFailures", NSObjectClass());
  class_addMethod(cls, sel_registerName("answer"), &answer);
  id instance = msg<id()>(cls, "alloc");

  EXPECT_THROW(msg<long()>(instance, "noSuchMessage"), NSException);
  EXPECT_THROW(msg<id()>(cls, "noSuchClassMessage"), NSException);
  EXPECT_THROW(msg<id()>(static_cast<Class>(nullptr), "alloc"), NSException);
  // Values understand only what their class was given.
  EXPECT_THROW(msg<long()>(NSString::fromUtf8("x"), "answer"), NSException);
  // The method exists, but is called with another signature.
  EXPECT_THROW(msg<id()>(instance, "answer"), NSException);
  EXPECT_THROW(msg<long(long)>(instance, "answer", 1), NSException);

  EXPECT_EQ(msg<long()>(nil, "answer"), 0);
  EXPECT_EQ(msg<id()>(nil, "anything"), nil);
  EXPECT_EQ(msg<double(long)>(nil, "anything:", 3), 0.0);
  EXPECT_NO_THROW(msg<void(id)>(nil, "anything:", instance));
}

TEST(RuntimeIvars, ReadAndWrittenByNameThroughSubclasses) {
  Class base = objc_registerClass("RtIvarBase", NSObjectClass());
  class_addIvar(base, "_first");
  Class derived = objc_registerClass("RtIvarDerived", base);
  class_addIvar(derived, "_second");

  id cell = msg<id()>(derived, "alloc");
  Ivar first = class_getInstanceVariable(object_getClass(cell), "_first");
  Ivar second = class_getInstanceVariable(object_getClass(cell), "_second");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(ivar_getName(second), "_second");
  EXPECT_NE(ivar_getOffset(first), ivar_getOffset(second));
  EXPECT_EQ(class_getInstanceVariable(base, "_second"), nullptr);
  EXPECT_EQ(class_getInstanceVariable(derived, "_missing"), nullptr);

  EXPECT_EQ(object_getIvar(cell, first), nil);
  id a = NSString::fromUtf8("a");
  id b = NSString::fromUtf8("b");
  object_setIvar(cell, first, a);
  object_setIvar(cell, second, b);
  EXPECT_EQ(object_getIvar(cell, first), a);
  EXPECT_EQ(object_getIvar(cell, second), b);
  EXPECT_EQ(object_getIvar(nil, first), nil);
}

TEST(RuntimeIvars, ObjectLackingTheVariableRaises) {
  Class owner = objc_registerClass("RtIvarOwner", NSObjectClass());
  class_addIvar(owner, "_only");
  Class stranger = objc_registerClass("RtIvarStranger", NSObjectClass());
  Ivar only = class_getInstanceVariable(owner, "_only");
  ASSERT_NE(only, nullptr);

  EXPECT_THROW(object_getIvar(msg<id()>(stranger, "alloc"), only), NSException);
  EXPECT_THROW(object_setIvar(msg<id()>(stranger, "alloc"), only, nil), NSException);
  EXPECT_THROW(object_getIvar(NSString::fromUtf8("x"), only), NSException);
  EXPECT_THROW(object_getIvar(msg<id()>(owner, "alloc"), nullptr), NSException);
}

TEST(RuntimeIvars, LateVariablesNeverShareASlot) {
  // A variable added to a class after a subclass exists may be refused, but
  // must never take a slot that the subclass's own variables use.
  Class base = objc_registerClass("RtLateBase", NSObjectClass());
  Class derived = objc_registerClass("RtLateDerived", base);
  class_addIvar(derived, "_own");
  class_addIvar(base, "_late");
  Ivar own = class_getInstanceVariable(derived, "_own");
  Ivar late = class_getInstanceVariable(derived, "_late");
  id cell = msg<id()>(derived, "alloc");
  id mine = NSString::fromUtf8("own");
  object_setIvar(cell, own, mine);
  if (late) {
    object_setIvar(cell, late, NSString::fromUtf8("late"));
    EXPECT_EQ(object_getIvar(cell, own), mine);
  }

  // An instance made directly, without alloc, has no slot for a variable
  // added afterwards: reading it raises rather than reaching past the end.
  Class direct = objc_registerClass("RtLateDirect", NSObjectClass());
  id early = std::make_shared<RuntimeObject>(direct);
  class_addIvar(direct, "_tooLate");
  if (Ivar tooLate = class_getInstanceVariable(direct, "_tooLate")) {
    EXPECT_THROW(object_getIvar(early, tooLate), NSException);
  }
}

// ---- MSHookMessageEx -------------------------------------------------------

struct Recorded {
  std::vector<std::string> calls;
  id receiver;
  SEL selector = nullptr;
  long number = 0;
  id object;
};
Recorded recorded;

id original(id self, SEL cmd, long number, id object) {
  recorded.calls.push_back("original");
  recorded.receiver = self;
  recorded.selector = cmd;
  recorded.number = number;
  recorded.object = object;
  return NSString::fromUtf8("original");
}

id (*savedFirst)(id, SEL, long, id) = nullptr;
id (*savedSecond)(id, SEL, long, id) = nullptr;

id firstReplacement(id self, SEL cmd, long number, id object) {
  recorded.calls.push_back("first");
  return savedFirst(self, cmd, number, object);
}

id secondReplacement(id self, SEL cmd, long number, id object) {
  recorded.calls.push_back("second");
  return savedSecond(self, cmd, number, object);
}

class Hooking : public ::testing::Test {
 protected:
  void SetUp() override {
    recorded = Recorded{};
    savedFirst = nullptr;
    savedSecond = nullptr;
  }
};

TEST_F(Hooking, ReplacementRunsAndSlotGetsTheCallersArguments) {
  Class cls = objc_registerClass("RtHookPlain", NSObjectClass());
  SEL selector = sel_registerName("take:with:");
  class_addMethod(cls, selector, &original);
  MSHookMessageEx(cls, selector, &firstReplacement, &savedFirst);
  ASSERT_EQ(savedFirst, &original);

  id receiver = msg<id()>(cls, "alloc");
  id argument = NSString::fromUtf8("arg");
  id result = msg<id(long, id)>(receiver, selector, -5L, argument);

  EXPECT_EQ(recorded.calls, (std::vector<std::string>{"first", "original"}));
  EXPECT_EQ(recorded.receiver, receiver);
  EXPECT_EQ(recorded.selector, selector);
  EXPECT_EQ(recorded.number, -5);
  EXPECT_EQ(recorded.object, argument);
  EXPECT_TRUE(valuesEqual(result, NSString::fromUtf8("original")));
}

TEST_F(Hooking, HookingTwiceChains) {
  Class cls = objc_registerClass("RtHookTwice", NSObjectClass());
  SEL selector = sel_registerName("take:with:");
  class_addMethod(cls, selector, &original);
  MSHookMessageEx(cls, selector, &firstReplacement, &savedFirst);
  MSHookMessageEx(cls, selector, &secondReplacement, &savedSecond);
  EXPECT_EQ(savedSecond, &firstReplacement);

  msg<id(long, id)>(msg<id()>(cls, "alloc"), selector, 1L, nil);
  EXPECT_EQ(recorded.calls, (std::vector<std::string>{"second", "first", "original"}));
}

TEST_F(Hooking, AbsentClassOrMethodOrOtherSignatureIsIgnored) {
  SEL selector = sel_registerName("take:with:");
  MSHookMessageEx(objc_getClass("RtHookNoSuchClass"), selector, &firstReplacement, &savedFirst);
  EXPECT_EQ(savedFirst, nullptr);

  Class without = objc_registerClass("RtHookWithout", NSObjectClass());
  MSHookMessageEx(without, selector, &firstReplacement, &savedFirst);
  EXPECT_EQ(savedFirst, nullptr);
  EXPECT_THROW(msg<id(long, id)>(msg<id()>(without, "alloc"), selector, 1L, nil), NSException);

  Class other = objc_registerClass("RtHookOtherSignature", NSObjectClass());
  class_addMethod(other, selector, &describe);  // id(long), not id(long, id)
  MSHookMessageEx(other, selector, &firstReplacement, &savedFirst);
  EXPECT_EQ(savedFirst, nullptr);
  EXPECT_TRUE(valuesEqual(msg<id(long)>(msg<id()>(other, "alloc"), selector, 1L),
                          NSString::fromUtf8("base")));
}

TEST_F(Hooking, InheritedMethodIsReplacedOnlyForTheHookedClass) {
  Class base = objc_registerClass("RtHookInheritBase", NSObjectClass());
  Class derived = objc_registerClass("RtHookInheritDerived", base);
  Class grandchild = objc_registerClass("RtHookInheritGrandchild", derived);
  SEL selector = sel_registerName("take:with:");
  class_addMethod(base, selector, &original);
  MSHookMessageEx(derived, selector, &firstReplacement, &savedFirst);
  ASSERT_EQ(savedFirst, &original);

  msg<id(long, id)>(msg<id()>(base, "alloc"), selector, 1L, nil);
  EXPECT_EQ(recorded.calls, (std::vector<std::string>{"original"}));

  recorded.calls.clear();
  msg<id(long, id)>(msg<id()>(derived, "alloc"), selector, 1L, nil);
  EXPECT_EQ(recorded.calls, (std::vector<std::string>{"first", "original"}));

  recorded.calls.clear();
  msg<id(long, id)>(msg<id()>(grandchild, "alloc"), selector, 1L, nil);
  EXPECT_EQ(recorded.calls, (std::vector<std::string>{"first", "original"}));
}

}  // namespace
