#include "XArray.h"
#include "XException.h"
#include "XMemory.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// An element that logs its id into a shared list when it is destroyed, so a
// test sees which elements the array deleted and in what order.
struct Tracked {
    Tracked(std::vector<int>* deaths, int id) : deaths(deaths), id(id) {}
    ~Tracked() { deaths->push_back(id); }
    std::vector<int>* deaths;
    int id;
};

class XArrayTest : public ::testing::Test {
protected:
    void TearDown() override { XSetAllocFailAfter(-1); }

    Tracked* Make(int id) { return new Tracked(&deaths, id); }

    // Adds elements with ids first..last-1.
    void AddRange(XArray<Tracked>& array, int first, int last)
    {
        for (int id = first; id < last; ++id)
            array.Add(Make(id));
    }

    // The slots' pointers, for before/after comparisons.
    static std::vector<Tracked*> Slots(XArray<Tracked>& array)
    {
        std::vector<Tracked*> slots;
        for (int i = 0; i < array.GetSize(); ++i)
            slots.push_back(array[i]);
        return slots;
    }

    std::vector<int> deaths;
};

// The message of the exception of type E that action throws, "<null>" for a
// null message; a test failure when it throws nothing.
template <class E>
std::string ThrownMessage(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& e) {
        return e.GetMessage() ? e.GetMessage() : "<null>";
    }
    ADD_FAILURE() << "nothing thrown";
    return "";
}

TEST_F(XArrayTest, StartsEmpty)
{
    XArray<Tracked> array;
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array.GetCapacity(), 0);
    EXPECT_EQ(ThrownMessage<XBoundException>([&] { (void)array[0]; }), "XArray out of bound");
}

TEST_F(XArrayTest, AddGrowsByHalfAgain)
{
    const int expected[] = {1, 3, 3, 6, 6, 6, 10, 10, 10, 10, 16};
    XArray<Tracked> array;
    std::vector<Tracked*> added;
    for (int i = 0; i < 11; ++i) {
        SCOPED_TRACE("Add #" + std::to_string(i + 1));
        added.push_back(Make(i));
        array.Add(added.back());
        EXPECT_EQ(array.GetSize(), i + 1);
        EXPECT_EQ(array.GetCapacity(), expected[i]);
    }
    EXPECT_EQ(Slots(array), added);
    EXPECT_TRUE(deaths.empty());
}

TEST_F(XArrayTest, SetSizeOnEmptyGivesNullSlots)
{
    XArray<Tracked> array;
    array.SetSize(5);
    EXPECT_EQ(array.GetSize(), 5);
    EXPECT_EQ(array.GetCapacity(), 7);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(array[i], nullptr) << "slot " << i;
}

TEST_F(XArrayTest, GrowthWithinCapacityNullsNewSlotsWithoutAllocating)
{
    XArray<Tracked> array;
    array.SetSize(5); // capacity 7: slots 5 and 6 were never written
    array[0] = Make(0);
    long before = XGetAllocCount();
    array.SetSize(7);
    EXPECT_EQ(XGetAllocCount(), before);
    EXPECT_EQ(array.GetCapacity(), 7);
    EXPECT_EQ(array[0]->id, 0);
    EXPECT_EQ(array[5], nullptr);
    EXPECT_EQ(array[6], nullptr);

    before = XGetAllocCount();
    array.SetSize(7);
    EXPECT_EQ(XGetAllocCount(), before);
    EXPECT_EQ(array.GetSize(), 7);
    EXPECT_TRUE(deaths.empty());
}

TEST_F(XArrayTest, BadIndexThrowsAndChangesNothing)
{
    XArray<Tracked> array;
    AddRange(array, 0, 3);
    array.SetSize(5);
    std::vector<Tracked*> before = Slots(array);
    const XArray<Tracked>& constArray = array;
    for (int index : {5, -1, 6, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("index " + std::to_string(index));
        EXPECT_EQ(ThrownMessage<XBoundException>([&] { array[index] = nullptr; }),
                  "XArray out of bound");
        EXPECT_EQ(ThrownMessage<XBoundException>([&] { (void)constArray[index]; }),
                  "XArray out of bound");
        EXPECT_EQ(array.GetSize(), 5);
        EXPECT_EQ(array.GetCapacity(), 7);
        EXPECT_EQ(Slots(array), before);
    }
    EXPECT_TRUE(deaths.empty());
}

TEST_F(XArrayTest, ShrinkDeletesCutElementsInOrderAndCutsStorageBelowHalf)
{
    struct Case {
        const char* name;
        int filled;       // elements in slots 0..filled-1 (slots up to count stay null)
        int count;        // count before, set by SetSize
        int newSize;
        int capacityBefore;
        int capacityAfter;
    } cases[] = {
        {"keeps storage at half or more", 5, 5, 4, 7, 7},
        {"exactly half of 15 keeps storage", 10, 10, 7, 15, 15},
        {"one below half cuts to n", 10, 10, 6, 15, 6},
        {"to zero releases storage", 10, 10, 0, 15, 0},
        {"null slots are skipped", 3, 6, 1, 9, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        deaths.clear();
        {
            XArray<Tracked> array;
            array.SetSize(c.count);
            ASSERT_EQ(array.GetCapacity(), c.capacityBefore);
            for (int i = 0; i < c.filled; ++i)
                array[i] = Make(i);
            array.SetSize(c.newSize);
            EXPECT_EQ(array.GetSize(), c.newSize);
            EXPECT_EQ(array.GetCapacity(), c.capacityAfter);
            std::vector<int> cut;
            for (int id = c.newSize; id < c.filled; ++id)
                cut.push_back(id);
            EXPECT_EQ(deaths, cut);
            for (int i = 0; i < c.newSize && i < c.filled; ++i)
                EXPECT_EQ(array[i]->id, i);
            deaths.clear();
        }
        // The destructor takes the rest.
        EXPECT_EQ(static_cast<int>(deaths.size()), c.newSize < c.filled ? c.newSize : c.filled);
    }
}

TEST_F(XArrayTest, SetSizeZeroAfterTenAddsDeletesAllAndArrayIsReusable)
{
    XArray<Tracked> array;
    AddRange(array, 0, 10);
    ASSERT_EQ(array.GetCapacity(), 10);
    array.SetSize(0);
    EXPECT_EQ(deaths, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array.GetCapacity(), 0);
    EXPECT_EQ(ThrownMessage<XBoundException>([&] { (void)array[0]; }), "XArray out of bound");

    array.Add(Make(10));
    EXPECT_EQ(array.GetSize(), 1);
    EXPECT_EQ(array.GetCapacity(), 1);
    EXPECT_EQ(array[0]->id, 10);
}

TEST_F(XArrayTest, DestructorDeletesEveryNonNullElement)
{
    {
        XArray<Tracked> array;
        AddRange(array, 0, 3);
        array.Add(nullptr);
        array.Add(Make(4));
    }
    EXPECT_EQ(deaths, (std::vector<int>{0, 1, 2, 4}));
}

TEST_F(XArrayTest, WritingNullTakesTheElementOutOfOwnership)
{
    std::unique_ptr<Tracked> taken;
    {
        XArray<Tracked> array;
        AddRange(array, 0, 3);
        taken.reset(array[1]);
        array[1] = nullptr;
        array.SetSize(1); // cuts the null slot 1 and element 2
        EXPECT_EQ(deaths, (std::vector<int>{2}));
    }
    EXPECT_EQ(deaths, (std::vector<int>{2, 0}));
    EXPECT_EQ(taken->id, 1);
    taken.reset();
    EXPECT_EQ(deaths, (std::vector<int>{2, 0, 1}));
}

TEST_F(XArrayTest, StoringOverAPointerDoesNotDeleteIt)
{
    std::unique_ptr<Tracked> first(Make(1));
    {
        XArray<Tracked> array;
        array.Add(first.get());
        array[0] = Make(2);
        EXPECT_TRUE(deaths.empty());
        EXPECT_EQ(array[0]->id, 2);
    }
    EXPECT_EQ(deaths, (std::vector<int>{2}));
    first.reset();
    EXPECT_EQ(deaths, (std::vector<int>{2, 1}));
}

TEST_F(XArrayTest, FailedGrowthThrowsAndChangesNothing)
{
    struct Case {
        const char* name;
        int adds; // elements added before the failing call
        std::function<void(XArray<Tracked>&, std::unique_ptr<Tracked>&)> action;
    } cases[] = {
        {"first Add", 0,
         [](XArray<Tracked>& a, std::unique_ptr<Tracked>& e) {
             a.Add(e.get());
             e.release(); // owned by the array only once Add returns
         }},
        {"Add on a full array", 3,
         [](XArray<Tracked>& a, std::unique_ptr<Tracked>& e) {
             a.Add(e.get());
             e.release();
         }},
        {"SetSize beyond capacity", 6, [](XArray<Tracked>& a, std::unique_ptr<Tracked>&) { a.SetSize(20); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        deaths.clear();
        XArray<Tracked> array;
        AddRange(array, 0, c.adds);
        ASSERT_EQ(array.GetSize(), array.GetCapacity());
        std::vector<Tracked*> before = Slots(array);
        int capacity = array.GetCapacity();
        std::unique_ptr<Tracked> element(Make(99));

        XSetAllocFailAfter(0, 1);
        EXPECT_EQ(ThrownMessage<XMemoryException>([&] { c.action(array, element); }),
                  "XArray memory error");
        XSetAllocFailAfter(-1);

        EXPECT_EQ(array.GetSize(), c.adds);
        EXPECT_EQ(array.GetCapacity(), capacity);
        EXPECT_EQ(Slots(array), before);
        EXPECT_TRUE(deaths.empty());
        EXPECT_NE(element, nullptr);
    }
}

TEST_F(XArrayTest, FailedStorageCutKeepsTheLargerStorage)
{
    XArray<Tracked> array;
    AddRange(array, 0, 10);
    XSetAllocFailAfter(0, 1);
    array.SetSize(2);
    XSetAllocFailAfter(-1);
    EXPECT_EQ(array.GetSize(), 2);
    EXPECT_EQ(array.GetCapacity(), 10);
    EXPECT_EQ(deaths, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(array[1]->id, 1);
    // Growth back into the kept slots needs no allocation.
    long before = XGetAllocCount();
    array.SetSize(10);
    EXPECT_EQ(XGetAllocCount(), before);
    EXPECT_EQ(array[9], nullptr);
}

} // namespace
