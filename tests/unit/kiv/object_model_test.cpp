// Reference counting, handles and the Detach / set_Object protocol.
#include <gtest/gtest.h>

#include "kiv.basis/lib/binding.h"
#include "kiv.basis/lib/handle.h"
#include "kiv.basis/lib/string.h"
#include "kiv.basis/lib/uint32.h"
#include "tests/unit/kiv/kiv_test_util.h"

namespace {

class Handle : public XGCHandle<CountedObject> {};

TEST(ObjectModel, UnusedHandleAllocatesOnlyItsHolder) {
    const KivMemoryCounters before = MemoryCounters();
    {
        Handle handle;
        ASSERT_NE(handle.holder, nullptr);
        EXPECT_STREQ(handle.holder->name, "object");
        EXPECT_EQ(handle.Peek(), nullptr);
        EXPECT_EQ(MemoryCounters().allocations, before.allocations + 1);
    }
    const KivMemoryCounters after = MemoryCounters();
    EXPECT_EQ(after.live, before.live);
    EXPECT_EQ(after.bad_frees, 0u);
}

TEST(ObjectModel, FirstUseCreatesAndNamesTheTarget) {
    Handle handle;
    CountedObject* object = handle.get_Object();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(handle.get_Object(), object);
    EXPECT_STREQ(object->name, "CountedObject");
    EXPECT_EQ(object->ref_count, 1);
    EXPECT_EQ(object->gc_ref_count, 0);
    EXPECT_EQ(object->fresh, 1);
    EXPECT_EQ(object->reserved, 4);
    XString text;
    EXPECT_STREQ(text.get_Object()->name, "string");
    XUInt32 number;
    EXPECT_STREQ(number.get_Object()->name, "_UInt32");
}

TEST(ObjectModel, ReleaseAtZeroIsAbsorbed) {
    const int destroyed = CountedObject::Destroyed();
    CountedObject* object = KivNew<CountedObject>();
    ASSERT_NE(object, nullptr);
    object->AddRef();
    object->Release();
    EXPECT_EQ(CountedObject::Destroyed(), destroyed);
    object->Release();
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 1);
    EXPECT_EQ(MemoryCounters().bad_frees, 0u);
}

TEST(ObjectModel, DetachedObjectSurvivesItsHandleAndMovesToTheNext) {
    const int destroyed = CountedObject::Destroyed();
    CountedObject* raw = nullptr;
    {
        Handle local;
        local.get_Object()->payload = 42;
        raw = local.Detach();
    }
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->ref_count, 1);
    EXPECT_EQ(raw->gc_ref_count, 1);
    EXPECT_NE(raw->gc_lock, nullptr);  // kiv.gc stored its lock
    {
        Handle taker;
        taker.set_Object(raw);
        EXPECT_EQ(raw->ref_count, 1);
        EXPECT_EQ(raw->gc_ref_count, 0);
        EXPECT_EQ(raw->gc_lock, nullptr);
        EXPECT_EQ(taker.get_Object()->payload, 42);
        EXPECT_EQ(CountedObject::Destroyed(), destroyed);
    }
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 1);
}

TEST(ObjectModel, AssigningTheHeldObjectKeepsItsCount) {
    Handle handle;
    CountedObject* object = handle.get_Object();
    handle.set_Object(object);
    EXPECT_EQ(handle.get_Object(), object);
    EXPECT_EQ(object->ref_count, 1);
}

TEST(ObjectModel, UnregisteredObjectIsShared) {
    Handle first, second;
    CountedObject* object = first.get_Object();
    second.set_Object(object);
    EXPECT_EQ(object->ref_count, 2);
    EXPECT_FALSE(object->RemoveGCRef(true));
    EXPECT_EQ(object->ref_count, 2);
}

TEST(ObjectModel, ChildReferences) {
    const int destroyed = CountedObject::Destroyed();
    CountedObject* parent = KivNew<CountedObject>();
    CountedObject* child = KivNew<CountedObject>();
    ASSERT_TRUE(parent != nullptr && child != nullptr);
    parent->AddChildRef(parent);  // itself: ignored
    EXPECT_EQ(parent->children.Count(), 0u);
    EXPECT_EQ(parent->ref_count, 1);
    parent->AddChildRef(child);
    parent->AddChildRef(child);
    EXPECT_EQ(child->ref_count, 3);
    parent->RemoveChildRef(child);  // the first entry only
    EXPECT_EQ(child->ref_count, 2);
    EXPECT_EQ(parent->children.Count(), 1u);
    CountedObject stranger;
    parent->RemoveChildRef(&stranger);  // not there: nothing
    EXPECT_EQ(parent->children.Count(), 1u);
    child->Release();
    EXPECT_EQ(CountedObject::Destroyed(), destroyed);
    parent->Release();  // releases the child it still holds
    EXPECT_EQ(CountedObject::Destroyed(), destroyed + 2);
}

TEST(ObjectModel, HandleWithOwnerRegistersItsTargetAsChild) {
    CountedObject* owner = KivNew<CountedObject>();
    ASSERT_NE(owner, nullptr);
    {
        XGCHandle<CountedObject> member(owner);
        CountedObject* target = member.get_Object();
        ASSERT_EQ(owner->children.Count(), 1u);
        EXPECT_EQ(owner->children.At(0), target);
        EXPECT_EQ(target->ref_count, 2);

        Handle other;
        CountedObject* replacement = other.get_Object();
        member.set_Object(replacement);
        ASSERT_EQ(owner->children.Count(), 1u);
        EXPECT_EQ(owner->children.At(0), replacement);
        EXPECT_EQ(replacement->ref_count, 3);  // other, member, owner's child list
    }
    owner->Release();
    EXPECT_EQ(MemoryCounters().bad_frees, 0u);
}

TEST(ObjectModel, SetTypeNameClearsTheTypeSlot) {
    CountedObject object;
    object.type = reinterpret_cast<_Type*>(&object);
    object.SetTypeName("renamed");
    EXPECT_EQ(object.type, nullptr);
    EXPECT_STREQ(object.name, "renamed");
    object.ref_count = 0;  // a stack object: never released into kiv_free
}

TEST(MallocArray, InsertRemoveAndGrowth) {
    XMallocArray<void*, 5> array;
    int a, b, c;
    EXPECT_EQ(array.At(0), nullptr);
    EXPECT_EQ(array.Insert(7, &a), 0u);  // beyond the count: appended
    EXPECT_EQ(array.Insert(0, &b), 0u);
    EXPECT_EQ(array.Add(&c), 2u);
    EXPECT_EQ(array.At(0), &b);
    EXPECT_EQ(array.At(1), &a);
    EXPECT_EQ(array.At(2), &c);
    EXPECT_EQ(array.Capacity(), 5u);
    for (int i = 0; i < 3; ++i) {
        array.Add(&a);
    }
    EXPECT_EQ(array.Capacity(), 10u);  // grown by N, not doubled
    EXPECT_EQ(array.At(2), &c);
    array.RemoveAt(0);
    EXPECT_EQ(array.At(0), &a);
    EXPECT_EQ(array.Count(), 5u);
    EXPECT_EQ(array.items[5], nullptr);  // the freed last slot is zeroed
    array.RemoveAt(99);
    EXPECT_EQ(array.Count(), 5u);
}

TEST(MallocArray, RemovingTheOnlyItem) {
    XMallocArray<XGCRef*, 5> array;
    XGCRef* item = reinterpret_cast<XGCRef*>(&array);
    array.Add(item);
    array.RemoveAt(0);
    EXPECT_EQ(array.Count(), 0u);
    EXPECT_EQ(array.items[0], nullptr);
    EXPECT_EQ(array.At(0), nullptr);
}

TEST(InternalArray, ElementsAreOwnedHandles) {
    const KivMemoryCounters before = MemoryCounters();
    {
        XArray<XUInt32> numbers;
        for (uint32_t i = 0; i < 12; ++i) {
            ASSERT_TRUE(numbers.Add(XUInt32(i * 3)));
        }
        EXPECT_EQ(numbers.Count(), 12u);
        EXPECT_EQ(numbers.At(11)->get_Value(), 33u);
        EXPECT_EQ(numbers.At(12), nullptr);
        EXPECT_EQ(numbers.get_Object()->array->capacity, 15u);  // grows by 5
        XArray<XUInt32> copy(numbers.Detach());
        EXPECT_EQ(copy.Count(), 12u);
        EXPECT_EQ(copy.At(4)->get_Value(), 12u);
        copy.At(4)->set_Value(99);
        EXPECT_EQ(numbers.At(4)->get_Value(), 12u);  // a deep copy
    }
    const KivMemoryCounters after = MemoryCounters();
    EXPECT_EQ(after.live, before.live);
    EXPECT_EQ(after.bad_frees, 0u);
}

TEST(UInt32, ValueSemantics) {
    XUInt32 zero;
    EXPECT_EQ(zero.get_Value(), 0u);
    XUInt32 value(7);
    zero = value;
    value.set_Value(8);
    EXPECT_EQ(zero.get_Value(), 7u);
}

}  // namespace
