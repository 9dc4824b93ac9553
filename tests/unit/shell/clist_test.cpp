// CList: growth in steps of 10, removal by moving the last item, the shrink
// when the capacity exceeds the count by more than 10, and concurrent use.
#include "npcamvue/shell/clist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "npcamvue/shell/aligned_block.h"

namespace camvue {
namespace {

// Distinct non-null items.
std::vector<int> g_storage(1000);
void* Item(int i) {
    return &g_storage[static_cast<size_t>(i)];
}

std::set<void*> Contents(const CList& list) {
    return std::set<void*>(list.items, list.items + list.count);
}

TEST(CList, StartsWithTenEmptyEntries) {
    CList list;
    EXPECT_EQ(list.capacity, 10);
    EXPECT_EQ(list.count, 0);
    ASSERT_NE(list.items, nullptr);
    EXPECT_EQ(AlignedBlock::Count(list.items), 10);
    EXPECT_EQ(AlignedBlock::ElementSize(list.items), static_cast<int32_t>(sizeof(void*)));
    EXPECT_STREQ(list.lock.words()->holder, "CList::CList");
}

TEST(CList, AddGrowsTheCapacityWhenTheCountReachesIt) {
    CList list;
    EXPECT_EQ(list.Add(nullptr), -1);
    EXPECT_EQ(list.count, 0);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(list.Add(Item(i)), i + 1) << "the add counter's new value";
        // At the tenth add the count reaches the capacity 10: it becomes 20.
        EXPECT_EQ(list.capacity, i + 1 < 10 ? 10 : 20) << "after add " << i + 1;
        EXPECT_GE(AlignedBlock::Count(list.items), list.capacity);
    }
    ASSERT_EQ(list.count, 11);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(list.items[i], Item(i)) << "kept in order";
    EXPECT_STREQ(list.lock.words()->holder, "CList::CList");
    EXPECT_EQ(list.lock.words()->lock, 0) << "left after Add";
}

TEST(CList, RemoveMovesTheLastItemIntoThePlace) {
    CList list;
    for (int i = 0; i < 5; ++i)
        list.Add(Item(i));
    EXPECT_EQ(list.Remove(nullptr), -1);
    EXPECT_EQ(list.Remove(Item(99)), -1) << "not in the list";
    EXPECT_EQ(list.count, 5);
    EXPECT_EQ(list.Remove(Item(1)), 4);
    ASSERT_EQ(list.count, 4);
    EXPECT_EQ(list.items[0], Item(0));
    EXPECT_EQ(list.items[1], Item(4));
    EXPECT_EQ(list.items[2], Item(2));
    EXPECT_EQ(list.items[3], Item(3));
    EXPECT_EQ(list.Remove(Item(3)), 3) << "the last item itself";
    EXPECT_EQ(Contents(list), (std::set<void*>{Item(0), Item(4), Item(2)}));
    EXPECT_EQ(list.lock.words()->lock, 0) << "left after Remove";
}

// Capacity 25 arises from 80 by five shrinks (25 = 80 - 5 x 11); from there
// the array shrinks when the count drops below 15.
TEST(CList, RemoveShrinksWhenTheCapacityExceedsTheCountByMoreThanTen) {
    CList list;
    for (int i = 0; i < 79; ++i)
        ASSERT_EQ(list.Add(Item(i)), i + 1);
    ASSERT_EQ(list.capacity, 80);
    int next = 0;
    while (list.capacity != 25) {
        ASSERT_GT(list.count, 0);
        list.Remove(Item(next++));
    }
    ASSERT_EQ(list.count, 25);
    std::set<void*> expected = Contents(list);
    while (list.count > 15) {
        list.Remove(Item(next));
        expected.erase(Item(next++));
        EXPECT_EQ(list.capacity, 25) << "count " << list.count;
    }
    list.Remove(Item(next));
    expected.erase(Item(next++));
    EXPECT_EQ(list.count, 14);
    EXPECT_EQ(list.capacity, 14) << "shrunk to the count";
    EXPECT_EQ(AlignedBlock::Count(list.items), 14);
    EXPECT_EQ(Contents(list), expected) << "no item lost by the shrink";

    // The next add must make room again although count and capacity are equal.
    EXPECT_GT(list.Add(Item(500)), 0);
    EXPECT_EQ(list.count, 15);
    EXPECT_EQ(list.capacity, 25);
    EXPECT_GE(AlignedBlock::Count(list.items), 15);
    EXPECT_EQ(list.items[14], Item(500));
}

TEST(CList, EmptyingWithoutAShrinkKeepsTheArray) {
    CList list;
    for (int i = 0; i < 11; ++i)
        list.Add(Item(i));
    ASSERT_EQ(list.capacity, 20);
    EXPECT_EQ(list.Remove(Item(0)), 10);
    EXPECT_EQ(list.capacity, 20) << "20 - 10 is not more than 10";
    EXPECT_EQ(list.Remove(Item(1)), 9);
    EXPECT_EQ(list.capacity, 9) << "20 - 9 is";
    for (int i = 2; i < 11; ++i)
        EXPECT_EQ(list.Remove(Item(i)), 10 - i);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity, 9);
    EXPECT_NE(list.items, nullptr);
}

// Only a list at capacity 11 with one item can empty through a shrink: 100
// items give capacity 110, and removing them shrinks it 99, 88, ... 11.
TEST(CList, EmptiedByAShrinkItHasNoArrayAndStillTakesItems) {
    CList list;
    for (int i = 0; i < 100; ++i)
        list.Add(Item(i));
    ASSERT_EQ(list.capacity, 110);
    std::vector<int> capacities;
    for (int i = 0; i < 99; ++i) {
        ASSERT_EQ(list.Remove(Item(i)), 99 - i);
        if (capacities.empty() || capacities.back() != list.capacity)
            capacities.push_back(list.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<int>{99, 88, 77, 66, 55, 44, 33, 22, 11}));
    ASSERT_EQ(list.count, 1);
    // 11 - 0 > 10: shrunk to nothing, the array is freed, the result is -1
    // (and the add counter stays at 1).
    EXPECT_EQ(list.Remove(Item(99)), -1);
    EXPECT_EQ(list.items, nullptr);
    EXPECT_EQ(list.capacity, 0);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.adds, 1);

    // Adding again makes a fresh pointer array with room for the item.
    EXPECT_EQ(list.Add(Item(7)), 2);
    ASSERT_NE(list.items, nullptr);
    EXPECT_EQ(AlignedBlock::ElementSize(list.items), static_cast<int32_t>(sizeof(void*)));
    EXPECT_EQ(list.capacity, 11);
    EXPECT_GE(AlignedBlock::Count(list.items), 11);
    EXPECT_EQ(list.items[0], Item(7));
    EXPECT_EQ(list.count, 1);
}

TEST(CList, ConcurrentAddsAndRemovesKeepEveryItem) {
    CList list;
    constexpr int kThreads = 3;
    constexpr int kPerThread = 150;
    std::vector<std::vector<int>> results(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> adding{kThreads};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                results[static_cast<size_t>(t)].push_back(list.Add(Item(t * kPerThread + i)));
            // All adds are in before the first remove, so the add results
            // are exactly 1 .. N.
            --adding;
            while (adding.load() != 0)
                std::this_thread::yield();
            for (int i = 0; i < kPerThread; i += 2)
                list.Remove(Item(t * kPerThread + i));
        });
    }
    for (auto& t : threads)
        t.join();
    std::vector<int> all;
    for (const auto& r : results)
        all.insert(all.end(), r.begin(), r.end());
    std::sort(all.begin(), all.end());
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], static_cast<int>(i + 1)) << "each add got its own counter value";
    std::set<void*> expected;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 1; i < kPerThread; i += 2)
            expected.insert(Item(t * kPerThread + i));
    }
    SpinLockGuard guard(list.lock, "test");
    EXPECT_EQ(list.count, static_cast<int>(expected.size()));
    EXPECT_EQ(Contents(list), expected);
    EXPECT_EQ(list.adds, static_cast<long>(expected.size()));
}

}  // namespace
}  // namespace camvue
