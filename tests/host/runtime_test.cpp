// The object runtime and method replacement: lookup, inheritance, instance
// variables, dispatch failures and MSHookMessageEx. Every test registers its
// classes under names of its own: the registry lives for the whole process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/runtime/substrate.h"
#include "state/ns_exception.h"

namespace {

long answer(id, SEL) {
  return 42;
}
long otherAnswer(id, SEL) {
  return 7;
}
id make(Class cls) {
  return msg<id()>(cls, "alloc");
}

// Guards against lookup finding a wrong or absent class, a second
// registration replacing the first, subclasses not inheriting methods or
// instance variables (read by name on the subclass), an override not taking
// precedence, and variables of one class chain sharing a slot, even one added
// to the superclass too late.
TEST(Runtime, ClassesAreFoundAndInherit) {
  Class base = objc_registerClass("RtInheritBase", NSObjectClass());
  class_addIvar(base, "_first");
  class_addMethod(base, sel_registerName("answer"), &answer);
  Class derived = objc_registerClass("RtInheritDerived", base);
  class_addIvar(derived, "_second");
  class_addIvar(base, "_late");
  Class overriding = objc_registerClass("RtInheritOverriding", base);
  class_addMethod(overriding, sel_registerName("answer"), &otherAnswer);
  EXPECT_EQ(objc_getClass("RtInheritDerived"), derived);
  EXPECT_EQ(objc_getClass("RtNoSuchClass"), nullptr);
  EXPECT_EQ(objc_registerClass("RtInheritDerived", NSObjectClass()), derived);
  EXPECT_EQ(class_getSuperclass(derived), base);
  EXPECT_EQ(object_getClass(NSString::fromUtf8("x")), objc_getClass("NSString"));
  EXPECT_EQ(msg<long()>(make(derived), "answer"), 42);
  EXPECT_EQ(msg<long()>(make(overriding), "answer"), 7);

  id cell = make(derived);
  EXPECT_EQ(object_getClass(cell), derived);
  Ivar first = class_getInstanceVariable(object_getClass(cell), "_first");
  Ivar second = class_getInstanceVariable(object_getClass(cell), "_second");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(class_getInstanceVariable(base, "_second"), nullptr);
  EXPECT_EQ(object_getIvar(cell, first), nil);
  id a = NSString::fromUtf8("a"), b = NSString::fromUtf8("b");
  object_setIvar(cell, first, a);
  object_setIvar(cell, second, b);
  if (Ivar late = class_getInstanceVariable(derived, "_late")) object_setIvar(cell, late, nil);
  EXPECT_EQ(object_getIvar(cell, first), a);
  EXPECT_EQ(object_getIvar(cell, second), b);
}

// Guards against a failed dispatch or variable access crashing or answering
// quietly instead of raising NSException, and against a message to nil doing
// anything but answering zero.
TEST(Runtime, FailuresRaiseAndNilAnswersZero) {
  Class cls = objc_registerClass("RtFailures", NSObjectClass());
  class_addMethod(cls, sel_registerName("answer"), &answer);
  class_addIvar(cls, "_only");
  Ivar only = class_getInstanceVariable(cls, "_only");
  id instance = make(cls);
  Class strangerClass = objc_registerClass("RtFailuresStranger", NSObjectClass());
  class_addIvar(strangerClass, "_own");  // a slot where `only` would be
  id stranger = make(strangerClass);
  EXPECT_THROW(msg<long()>(instance, "noSuchMessage"), NSException);
  EXPECT_THROW(msg<id()>(cls, "noSuchClassMessage"), NSException);
  EXPECT_THROW(msg<id()>(static_cast<Class>(nullptr), "alloc"), NSException);
  EXPECT_THROW(msg<long()>(NSString::fromUtf8("x"), "answer"), NSException);
  EXPECT_THROW(msg<id()>(instance, "answer"), NSException) << "another result type";
  EXPECT_THROW(msg<long(long)>(instance, "answer", 1), NSException) << "other arguments";
  EXPECT_THROW(object_getIvar(stranger, only), NSException);
  EXPECT_THROW(object_setIvar(stranger, only, nil), NSException);

  EXPECT_EQ(msg<long()>(nil, "answer"), 0);
  EXPECT_EQ(msg<id()>(nil, "anything"), nil);
  EXPECT_EQ(msg<double(long)>(nil, "anything:", 3), 0.0);
  EXPECT_EQ(object_getIvar(nil, only), nil);
}

// ---- MSHookMessageEx -------------------------------------------------------

using Take = id (*)(id, SEL, long, id);
Take savedFirst, savedSecond;
std::vector<std::string> calls;
std::vector<id> originalGot;  // receiver, selector's name, number, object

id original(id self, SEL cmd, long number, id object) {
  calls.push_back("original");
  originalGot = {self, NSString::fromUtf8(sel_getName(cmd)), NSNumber::integer(number), object};
  return NSString::fromUtf8("original");
}
id firstReplacement(id self, SEL cmd, long number, id object) {
  calls.push_back("first");
  return savedFirst(self, cmd, number, object);
}
id secondReplacement(id self, SEL cmd, long number, id object) {
  calls.push_back("second");
  return savedSecond(self, cmd, number, object);
}

const SEL take = sel_registerName("take:with:");

// The calls that sending take:with: to a new instance of `cls` makes.
std::vector<std::string> callsOf(Class cls) {
  calls.clear();
  msg<id(long, id)>(make(cls), take, 1L, nil);
  return calls;
}
using Calls = std::vector<std::string>;

// Guards against the replacement not running, the slot not holding the
// original, the original getting other arguments than the caller's, and a
// second hook replacing the first instead of chaining to it.
TEST(Hooking, ReplacementRunsChainsAndPassesTheCallersArguments) {
  Class cls = objc_registerClass("RtHookPlain", NSObjectClass());
  savedFirst = nullptr;
  calls.clear();
  class_addMethod(cls, take, &original);
  MSHookMessageEx(cls, take, &firstReplacement, &savedFirst);
  ASSERT_EQ(savedFirst, &original);
  id receiver = make(cls), argument = NSString::fromUtf8("arg");
  id result = msg<id(long, id)>(receiver, take, -5L, argument);
  EXPECT_EQ(calls, (Calls{"first", "original"}));
  EXPECT_TRUE(valuesEqual(NSArray::make(originalGot),
                          NSArray::make({receiver, NSString::fromUtf8("take:with:"),
                                         NSNumber::integer(-5), argument})));
  EXPECT_TRUE(valuesEqual(result, NSString::fromUtf8("original")));

  MSHookMessageEx(cls, take, &secondReplacement, &savedSecond);
  EXPECT_EQ(savedSecond, &firstReplacement);
  EXPECT_EQ(callsOf(cls), (Calls{"second", "first", "original"}));
}

// Guards against hooking an absent class, a class without the method, or a
// method of another signature changing anything or writing the slot.
TEST(Hooking, AbsentClassOrMethodOrOtherSignatureIsIgnored) {
  Take slot = nullptr;
  MSHookMessageEx(objc_getClass("RtHookNoSuchClass"), take, &firstReplacement, &slot);
  Class without = objc_registerClass("RtHookWithout", NSObjectClass());
  MSHookMessageEx(without, take, &firstReplacement, &slot);
  Class other = objc_registerClass("RtHookOtherSignature", NSObjectClass());
  class_addMethod(other, take, &answer);
  MSHookMessageEx(other, take, &firstReplacement, &slot);
  EXPECT_EQ(slot, nullptr);
  EXPECT_THROW(callsOf(without), NSException);
  EXPECT_EQ(msg<long()>(make(other), take), 42);
}

// Guards against hooking an inherited method changing the superclass too, or
// not reaching the hooked class's own subclasses.
TEST(Hooking, InheritedMethodIsReplacedOnlyForTheHookedClass) {
  Class base = objc_registerClass("RtHookInheritBase", NSObjectClass());
  Class derived = objc_registerClass("RtHookInheritDerived", base);
  Class grandchild = objc_registerClass("RtHookInheritGrandchild", derived);
  savedFirst = nullptr;
  class_addMethod(base, take, &original);
  MSHookMessageEx(derived, take, &firstReplacement, &savedFirst);
  ASSERT_EQ(savedFirst, &original);
  EXPECT_EQ(callsOf(base), (Calls{"original"}));
  EXPECT_EQ(callsOf(derived), (Calls{"first", "original"}));
  EXPECT_EQ(callsOf(grandchild), (Calls{"first", "original"}));
}

}  // namespace
