// Lists, arrays, maps, counted references and the recursive mutex.
#include "KL_Array.h"
#include "KL_List.h"
#include "KL_Map.h"
#include "KL_Mutex.h"
#include "KL_Reference.h"
#include "KL_String.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {
std::string Items(const KL_List<KL_String>& list) {
    std::string out;
    for (KL_List<KL_String>::Iterator it = list.GetLastItem(); it; --it) { // walked backwards
        out.insert(0, std::string(it->GetChars()) + ".");
    }
    return out;
}
} // namespace

TEST(List, AddAndEraseAtHeadMiddleTail) {
    struct Case {
        KL_Index erase;
        const char* expected;
    } cases[] = {{0, "b.c.d."}, {2, "a.b.d."}, {3, "a.b.c."}};
    for (const Case& c : cases) {
        KL_List<KL_String> list;
        for (const char* item : {"a", "b", "c", "d"}) {
            ASSERT_EQ(list.Add(item), KL_SUCCESS);
        }
        ASSERT_EQ(list.Erase(list.GetItem(c.erase)), KL_SUCCESS);
        EXPECT_EQ(Items(list), c.expected);
        EXPECT_EQ(list.GetItemCount(), 3u);
    }
    KL_List<KL_String> list;
    EXPECT_EQ(list.Erase(list.GetFirstItem()), KL_ERROR_NO_SUCH_ITEM);
    list.Add("x");
    list.Insert(list.GetFirstItem(), "w");
    list.Insert(KL_List<KL_String>::Iterator(), "y");
    EXPECT_EQ(Items(list), "w.x.y.");
    KL_List<KL_String> copy;
    copy.Add("old");
    copy = list;
    EXPECT_EQ(Items(copy), "w.x.y.");
    KL_String head;
    EXPECT_EQ(copy.PopHead(head), KL_SUCCESS);
    EXPECT_STREQ(head.GetChars(), "w");
    EXPECT_EQ(copy.Remove("y"), KL_SUCCESS);
    EXPECT_EQ(copy.Remove("y"), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(copy.Clear(), KL_SUCCESS);
    EXPECT_EQ(copy.PopHead(head), KL_ERROR_LIST_EMPTY);
    EXPECT_EQ(copy.Clear(), KL_SUCCESS);
}

TEST(List, ApplyUntilStopsAtTheFirstNonZero) {
    KL_List<int> empty;
    EXPECT_EQ(empty.ApplyUntil([](int) { return KL_FAILURE; }, KL_UntilResultNotEquals(KL_SUCCESS)),
              KL_SUCCESS);
    KL_List<int> list;
    for (int r : {0, 0, -20005, 0}) {
        list.Add(r);
    }
    int calls = 0;
    KL_Result result = list.ApplyUntil(
        [&calls](int r) {
            ++calls;
            return r;
        },
        KL_UntilResultNotEquals(KL_SUCCESS));
    EXPECT_EQ(result, -20005);
    EXPECT_EQ(calls, 3);
}

TEST(Containers, FindOnEmptyLeavesOutUnchanged) {
    KL_String out("unchanged");
    EXPECT_EQ(KL_ContainerFind(KL_List<KL_String>(), KL_StringFinder("a"), out), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_EQ(KL_ContainerFind(KL_Array<KL_String>(), KL_StringFinder("a"), out), KL_ERROR_NO_SUCH_ITEM);
    EXPECT_STREQ(out.GetChars(), "unchanged");
    KL_Array<KL_String> array;
    array.Add("One");
    array.Add("two");
    EXPECT_EQ(KL_ContainerFind(array, KL_StringFinder("ONE", true), out), KL_SUCCESS);
    EXPECT_STREQ(out.GetChars(), "One");
}

TEST(Array, CapacitiesAndItems) {
    struct Case {
        KL_Size start;
        KL_Size reserve;
        KL_Size capacity;
    } cases[] = {{0, 1, 16}, {16, 17, 32}, {16, 100, 100}, {32, 10, 32}};
    for (const Case& c : cases) {
        KL_Array<KL_String> array;
        array.Reserve(c.start);
        array.Reserve(c.reserve);
        EXPECT_EQ(array.GetCapacity(), c.capacity) << c.start << "->" << c.reserve;
    }
    KL_Array<KL_String> array;
    for (int i = 0; i < 32; ++i) {
        ASSERT_EQ(array.Add(KL_String::FromInteger(i)), KL_SUCCESS);
    }
    array.Add(array[0]); // an item of the array itself, added while the storage grows
    EXPECT_EQ(array.GetCapacity(), 64u);
    EXPECT_STREQ(array[32].GetChars(), "0");
    EXPECT_EQ(array.Erase(0), KL_SUCCESS);
    EXPECT_STREQ(array[0].GetChars(), "1");
    EXPECT_EQ(array.Erase(32), KL_ERROR_OUT_OF_RANGE);
    KL_Array<KL_String> copy(array);
    array.Clear();
    EXPECT_EQ(array.GetItemCount(), 0u);
    EXPECT_EQ(array.GetCapacity(), 64u);
    EXPECT_EQ(copy.GetItemCount(), 32u);
}

TEST(Map, PutReplacesAndIndexAppends) {
    KL_Map<KL_String, KL_String> map;
    map.Put("a", "1");
    map.Put("b", "2");
    map.Put("a", "3");
    EXPECT_EQ(map.GetEntryCount(), 2u);
    EXPECT_STREQ(map.GetEntry("a")->GetValue().GetChars(), "3");
    EXPECT_EQ(map.GetEntry("A"), nullptr); // keys are case-sensitive
    EXPECT_STREQ(map["c"].GetChars(), "");
    EXPECT_EQ(map.GetEntryCount(), 3u);
    map[""] = "empty";
    EXPECT_STREQ(map.GetEntry(KL_String())->GetValue().GetChars(), "empty");
    KL_Map<KL_String, KL_String> copy(map);
    EXPECT_EQ(map.Erase("a"), KL_SUCCESS);
    EXPECT_EQ(map.Erase("a"), KL_ERROR_NO_SUCH_ITEM);
    std::string order;
    for (auto* entry : copy.GetEntries()) {
        order += entry->GetKey().GetChars() + std::string("=") + entry->GetValue().GetChars() + ";";
    }
    EXPECT_EQ(order, "a=3;b=2;c=;=empty;");
}

namespace {
struct Counted {
    explicit Counted(std::atomic<int>& deletions) : m_Deletions(deletions) {}
    virtual ~Counted() { ++m_Deletions; }
    std::atomic<int>& m_Deletions;
};
struct Derived : Counted {
    using Counted::Counted;
};
} // namespace

TEST(Reference, LastReleaseDeletesOnce) {
    std::atomic<int> deletions{0};
    {
        KL_Reference<Counted> a(new Counted(deletions), true);
        KL_Reference<Counted> b(a);
        KL_Reference<Counted> c;
        c = b;
        const KL_Reference<Counted>& same = c;
        c = same;
        EXPECT_EQ(a.GetCounter(), 3u);
        a.Release();
        b.Release();
        EXPECT_EQ(deletions, 0);
        EXPECT_TRUE(a.IsNull());
    }
    EXPECT_EQ(deletions, 1);
    KL_Reference<Counted> null(nullptr);
    null.Release();
    EXPECT_EQ(null.GetCounter(), 0u);
    Counted* kept = nullptr;
    {
        KL_Reference<Derived> derived(new Derived(deletions), false);
        KL_Reference<Counted> base = derived;
        kept = base.AsPointer();
        base.Release(true);
        derived.Release(true); // the last one, detached: the object survives
    }
    EXPECT_EQ(deletions, 1);
    delete kept;
    EXPECT_EQ(deletions, 2);
}

TEST(Reference, CopiesDroppedOnEightThreads) {
    std::atomic<int> deletions{0};
    {
        KL_Reference<Counted> shared(new Counted(deletions), true);
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([shared]() {
                for (int i = 0; i < 2000; ++i) {
                    KL_Reference<Counted> copy(shared);
                    KL_Reference<Counted> other;
                    other = copy;
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(shared.GetCounter(), 1u);
    }
    EXPECT_EQ(deletions, 1);
}

TEST(Mutex, RecursiveLockFromOneThread) {
    KL_Mutex mutex;
    EXPECT_EQ(mutex.Lock(), KL_SUCCESS);
    EXPECT_EQ(mutex.Lock(), KL_SUCCESS);
    EXPECT_EQ(mutex.Unlock(), KL_SUCCESS);
    EXPECT_EQ(mutex.Unlock(), KL_SUCCESS);
    std::atomic<bool> taken{false};
    std::thread other([&]() {
        KL_AutoLock lock(mutex);
        taken = true;
    });
    other.join();
    EXPECT_TRUE(taken);
}
