// List<T> over the host allocator, and the allocator's counting and failure injection that the
// module's leak and fault tests rely on.
#include <gtest/gtest.h>

#include <cstring>

#include "host/Alloc.h"
#include "host/List.h"
#include "standin/Standin.h"
#include "support/TestHost.h"

namespace {

TEST(StandinList, GrowsOneElementAtATime) {
    auto start = standin::AllocatorStats();
    List<float> list;
    EXPECT_FALSE(list.HasStorage());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(list.Add(i * 1.5f));
        auto now = standin::AllocatorStats();
        EXPECT_EQ(now.allocations - start.allocations, static_cast<uint64_t>(i + 1));
        EXPECT_EQ(now.liveBytes - start.liveBytes, (i + 1) * sizeof(float));
        EXPECT_EQ(now.liveBlocks - start.liveBlocks, 1u);
    }
    EXPECT_EQ(list.Num(), 5u);
    EXPECT_EQ(list[4], 6.0f);
    list.Clear();
    EXPECT_EQ(list.Num(), 0u);
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, start.liveBlocks);
}

TEST(StandinList, FailedGrowthKeepsTheList) {
    List<int> list;
    ASSERT_TRUE(list.Add(1));
    ASSERT_TRUE(list.Add(2));
    standin::FailAllocationAt(0);
    EXPECT_FALSE(list.Add(3));
    EXPECT_EQ(list.Num(), 2u);
    EXPECT_EQ(list[1], 2);
    EXPECT_TRUE(list.Add(3));  // only the chosen call failed
    EXPECT_EQ(list[2], 3);
}

TEST(StandinList, IndexPastTheEndIsFatal) {
    List<float> list;
    list.Add(1.0f);
    list.Add(2.0f);
    try {
        (void)list[2];
        FAIL() << "no fatal report";
    } catch (const testsupport::FatalError& error) {
        EXPECT_EQ(error.wide, L"Out of range!  List<float>::operator[](2)");
    }
    const List<unsigned>& empty = List<unsigned>();
    EXPECT_THROW((void)empty[0], testsupport::FatalError);
    EXPECT_EQ(standin::LogRecords().back().text,
              L"Out of range!  List<unsigned int>::operator[](0)");
}

TEST(StandinAllocator, CountsBlocksAndBytes) {
    auto start = standin::AllocatorStats();
    void* a = MainAllocator->Allocate(100);
    void* b = MainAllocator->Allocate(0);  // a real, distinct block
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % alignof(std::max_align_t), 0u);
    std::memset(a, 0x5A, 100);
    a = MainAllocator->ReAllocate(a, 300);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(a)[99], 0x5A);  // contents kept
    auto now = standin::AllocatorStats();
    EXPECT_EQ(now.liveBlocks - start.liveBlocks, 2u);
    EXPECT_EQ(now.liveBytes - start.liveBytes, 300u);
    EXPECT_EQ(now.allocations - start.allocations, 3u);
    MainAllocator->Free(a);
    MainAllocator->Free(b);
    MainAllocator->Free(nullptr);
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, start.liveBlocks);
    EXPECT_EQ(standin::AllocatorStats().liveBytes, start.liveBytes);
}

TEST(StandinAllocator, FailsChosenCalls) {
    void* block = MainAllocator->Allocate(16);
    ASSERT_NE(block, nullptr);
    std::memset(block, 7, 16);

    standin::FailAllocationAt(1);  // the second call from now
    void* first = MainAllocator->Allocate(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(MainAllocator->ReAllocate(block, 64), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(block)[15], 7);  // the old block is untouched
    void* third = MainAllocator->Allocate(8);
    EXPECT_NE(third, nullptr);

    standin::FailAllocationsLargerThan(32);
    EXPECT_EQ(MainAllocator->Allocate(33), nullptr);
    void* small = MainAllocator->Allocate(32);
    EXPECT_NE(small, nullptr);
    standin::Reset();  // forgets injected failures
    void* large = MainAllocator->Allocate(33);
    EXPECT_NE(large, nullptr);

    EXPECT_EQ(standin::AllocatorStats().failures >= 2, true);
    for (void* p : {block, first, third, small, large})
        MainAllocator->Free(p);
}

TEST(StandinAllocator, ClassLevelNewClearsAndFailsQuietly) {
    struct Object : MainAllocated {
        int values[8];
    };
    auto* object = new Object;
    ASSERT_NE(object, nullptr);
    for (int v : object->values)
        EXPECT_EQ(v, 0);
    delete object;
    standin::FailAllocationAt(0);
    EXPECT_EQ(new Object, nullptr);
}

}  // namespace
