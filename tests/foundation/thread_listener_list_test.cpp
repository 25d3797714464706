// CListenerList: ordered delivery, and changes to the list made from inside a delivery.
#include "foundation/listener_list.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct NumberEvent : CListenerEvent {
    explicit NumberEvent(int n) : number(n) {}
    int number;
};

struct TextEvent : CListenerEvent {};

// A listener that logs its name and then runs an action (which may change the list).
class ActionListener : public CTypedListener<NumberEvent> {
public:
    ActionListener(std::string name, std::vector<std::string>& log,
                   std::function<void(ActionListener*)> action = {}, int* destroyed = nullptr)
        : m_name(std::move(name)), m_log(log), m_action(std::move(action)), m_destroyed(destroyed) {}
    ~ActionListener() override {
        if (m_destroyed != nullptr)
            ++*m_destroyed;
    }

protected:
    void OnEvent(const NumberEvent& event) override {
        m_log.push_back(m_name + std::to_string(event.number));
        if (m_action)
            m_action(this);
    }

private:
    std::string m_name;
    std::vector<std::string>& m_log;
    std::function<void(ActionListener*)> m_action;
    int* m_destroyed;
};

using Log = std::vector<std::string>;

} // namespace

TEST(ThreadListenerList, DeliversInTheOrderAddedOnce) {
    Log log;
    CListenerList list;
    auto* a = new ActionListener("a", log);
    auto* b = new ActionListener("b", log);
    list.AddListener(std::unique_ptr<CListener>(a));
    list.AddListener(std::unique_ptr<CListener>(b));
    list.AddListener(std::unique_ptr<CListener>(a)); // already there
    list.Fire(NumberEvent(1));
    list.Fire(TextEvent()); // another type passes typed listeners by
    EXPECT_EQ(log, (Log{"a1", "b1"}));
    EXPECT_EQ(list.GetCount(), 2u);
}

TEST(ThreadListenerList, ListenerRemovingItselfIsHandedBackAfterTheDelivery) {
    Log log;
    CListenerList list;
    CListenerList* target = &list;
    auto* self = new ActionListener("s", log, [target](ActionListener* me) {
        target->RemoveListener(me);
        EXPECT_TRUE(target->Contains(me)) << "the set does not change during a delivery";
    });
    list.AddListener(std::unique_ptr<CListener>(self));
    list.AddListener(std::make_unique<ActionListener>("t", log));
    list.Fire(NumberEvent(1));
    list.Fire(NumberEvent(2));
    EXPECT_EQ(log, (Log{"s1", "t1", "t2"}));
    EXPECT_FALSE(list.Contains(self));
    delete self; // ownership came back with the removal
}

TEST(ThreadListenerList, ListenerDeletingItselfIsDeletedOnceAfterTheDelivery) {
    Log log;
    int destroyed = 0;
    CListenerList list;
    CListenerList* target = &list;
    list.AddListener(std::make_unique<ActionListener>(
        "d", log, [target](ActionListener* me) { target->DeleteListener(me); }, &destroyed));
    list.AddListener(std::make_unique<ActionListener>("after", log));
    list.Fire(NumberEvent(1));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.GetCount(), 1u);
    list.Fire(NumberEvent(2));
    EXPECT_EQ(log, (Log{"d1", "after1", "after2"}));
}

TEST(ThreadListenerList, DeletingALaterListenerSkipsItInThisDelivery) {
    Log log;
    int destroyed = 0;
    CListenerList list;
    CListenerList* target = &list;
    auto* victim = new ActionListener("v", log, {}, &destroyed);
    list.AddListener(std::make_unique<ActionListener>(
        "k", log, [target, victim](ActionListener*) { target->DeleteListener(victim); }));
    list.AddListener(std::unique_ptr<CListener>(victim));
    list.Fire(NumberEvent(1));
    EXPECT_EQ(log, (Log{"k1"}));
    EXPECT_EQ(destroyed, 1);
    list.Fire(NumberEvent(2)); // deleting a listener no longer in the set does nothing
    EXPECT_EQ(destroyed, 1);
}

TEST(ThreadListenerList, ListenerAddedDuringADeliveryHearsOnlyLaterEvents) {
    Log log;
    CListenerList list;
    CListenerList* target = &list;
    bool added = false;
    list.AddListener(std::make_unique<ActionListener>("p", log, [&, target](ActionListener*) {
        if (!added)
            target->AddListener(std::make_unique<ActionListener>("n", log));
        added = true;
    }));
    list.Fire(NumberEvent(1));
    list.Fire(NumberEvent(2));
    EXPECT_EQ(log, (Log{"p1", "p2", "n2"}));
}

TEST(ThreadListenerList, TheLastRequestInADeliveryWins) {
    Log log;
    CListenerList list;
    CListenerList* target = &list;
    auto* flip = new ActionListener("f", log);
    list.AddListener(std::make_unique<ActionListener>("c", log, [target, flip](ActionListener*) {
        target->RemoveListener(flip);
        target->AddListener(std::unique_ptr<CListener>(flip)); // put back within the same delivery
    }));
    list.AddListener(std::unique_ptr<CListener>(flip));
    list.Fire(NumberEvent(1));
    EXPECT_TRUE(list.Contains(flip));
    EXPECT_EQ(log, (Log{"c1", "f1"})) << "the removal was withdrawn before its turn came";
}

// A handler fires the list again. Changes recorded by the inner delivery must wait for the outer one:
// deleting a listener while the outer loop still walks the set would free it under the loop.
TEST(ThreadListenerList, NestedDeliveryDefersChangesToTheOutermost) {
    Log log;
    int destroyed = 0;
    CListenerList list;
    CListenerList* target = &list;
    auto* doomed = new ActionListener("x", log, {}, &destroyed);
    auto* refire = new ActionListener("r", log, [target](ActionListener*) {
        static int depth = 0;
        if (depth++ == 0)
            target->Fire(NumberEvent(9));
        depth--;
    });
    auto* killer = new ActionListener("k", log, [target, doomed, &destroyed](ActionListener*) {
        target->DeleteListener(doomed);
        EXPECT_EQ(destroyed, 0) << "not while a delivery runs";
    });
    list.AddListener(std::unique_ptr<CListener>(refire));
    list.AddListener(std::unique_ptr<CListener>(killer));
    list.AddListener(std::unique_ptr<CListener>(doomed));
    list.Fire(NumberEvent(1));
    EXPECT_EQ(log, (Log{"r1", "r9", "k9", "k1"}));
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(list.GetCount(), 2u);
}

TEST(ThreadListenerList, DestructionDeletesRemainingListeners) {
    Log log;
    int destroyed = 0;
    {
        CListenerList list;
        list.AddListener(std::make_unique<ActionListener>("a", log, nullptr, &destroyed));
        list.AddListener(std::make_unique<ActionListener>("b", log, nullptr, &destroyed));
        auto* removed = new ActionListener("c", log, {}, &destroyed);
        list.AddListener(std::unique_ptr<CListener>(removed));
        list.RemoveListener(removed);
        delete removed;
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 3);
}

// Several threads fire while others add and remove listeners; handlers also change the list.
TEST(ThreadListenerList, ConcurrentFiringAndChanges) {
    struct Counter : CListener {
        explicit Counter(std::atomic<int>& c) : count(c) {}
        void Handle(const CListenerEvent&) override { ++count; }
        std::atomic<int>& count;
    };
    std::atomic<int> count{0};
    CListenerList list;
    list.AddListener(std::make_unique<Counter>(count));
    constexpr int kRounds = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i)
                list.Fire(NumberEvent(i));
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
            auto* extra = new Counter(count);
            list.AddListener(std::unique_ptr<CListener>(extra));
            list.DeleteListener(extra);
        }
    });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(list.GetCount(), 1u);
    EXPECT_GE(count, 2 * kRounds) << "the permanent listener heard every event";
}
