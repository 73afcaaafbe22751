#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/BackgroundTask.h"
#include "base/BlockingQueue.h"
#include "base/EventQueueExecutor.h"

using namespace std::chrono_literals;
using rszorvik::base::BackgroundTask;
using rszorvik::base::BlockingQueue;
using rszorvik::base::CancellationError;
using rszorvik::base::EventQueueExecutor;
using rszorvik::base::ExecutionError;
using rszorvik::base::InterruptedError;
using rszorvik::base::Interruptible;

namespace {

// Only a safety net against a hang; nothing here measures time.
constexpr auto kSafety = 20s;

// What a task saw; owned by the test so that it outlives the task.
struct Record {
    std::vector<std::vector<int>> batches;
    std::vector<std::thread::id> callbackThreads;
    int doneCalls = 0;
    std::size_t batchesAtDone = 0;
    std::string outcome;  // get() as done() sees it
    bool workInterrupted = false;
    std::promise<void> started;
};

class ScriptedTask;
using Work = std::function<int(ScriptedTask&)>;

class ScriptedTask : public BackgroundTask<int, int> {
  public:
    ScriptedTask(EventQueueExecutor& executor, Record& record, Work work)
        : BackgroundTask(executor), recording(record), script(std::move(work)) {}

    void emit(int item) { publish(item); }
    Record& record() { return recording; }

  protected:
    int doInBackground() override {
        recording.started.set_value();
        try {
            return script(*this);
        } catch (const InterruptedError&) {
            recording.workInterrupted = true;
            throw;
        }
    }
    void process(const std::vector<int>& items) override {
        recording.batches.push_back(items);
        recording.callbackThreads.push_back(std::this_thread::get_id());
    }
    void done() override {
        ++recording.doneCalls;
        recording.batchesAtDone = recording.batches.size();
        recording.callbackThreads.push_back(std::this_thread::get_id());
        recording.outcome = describe();
    }

  private:
    std::string describe() const {
        try {
            return "result " + std::to_string(get());
        } catch (const InterruptedError&) {
            return "interrupted";
        } catch (const ExecutionError& e) {
            return std::string("failed: ") + e.what();
        } catch (const CancellationError&) {
            return "cancelled";
        }
    }

    Record& recording;
    Work script;
};

// Runs the executor on this thread until the task's done() has run, then a little more to show that
// nothing else follows.
void finish(EventQueueExecutor& executor, const Record& record) {
    ASSERT_TRUE(executor.runUntil([&] { return record.doneCalls > 0; }, kSafety));
    executor.runUntilIdle();
    EXPECT_EQ(record.doneCalls, 1);
    for (auto id : record.callbackThreads)
        EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(BackgroundTaskTest, OutcomesAsDoneSeesThem) {
    BlockingQueue<int> queue;
    struct Case {
        const char* name;
        Work work;
        std::function<void(ScriptedTask&)> whileRunning;
        const char* outcome;
        bool workInterrupted;
    };
    const auto nothing = [](ScriptedTask&) {};
    const Case cases[] = {
        {"normal end", [](ScriptedTask&) { return 42; }, nothing, "result 42", false},
        {"failure", [](ScriptedTask&) -> int { throw std::runtime_error("port gone"); }, nothing,
         "failed: port gone", false},
        {"failure of another kind", [](ScriptedTask&) -> int { throw 5; }, nothing, "failed: unknown error",
         false},
        {"cancelled with interruption during a sleep",
         [](ScriptedTask&) {
             Interruptible::sleepFor(24h);
             return 1;
         },
         [](ScriptedTask& task) { EXPECT_TRUE(task.cancel(true)); }, "cancelled", true},
        {"cancelled without interruption: the wait goes on", [&](ScriptedTask&) { return queue.take(); },
         [&](ScriptedTask& task) {
             EXPECT_TRUE(task.cancel(false));
             EXPECT_TRUE(task.isCancelled());
             EXPECT_TRUE(task.isDone());
             queue.put(3);
         },
         "cancelled", false},
        {"interrupted without being cancelled is a failure",
         [](ScriptedTask&) {
             Interruptible::interruptCurrentThread();
             Interruptible::sleepFor(24h);
             return 1;
         },
         nothing, "failed: sleep interrupted", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EventQueueExecutor executor;
        Record record;
        auto task = std::make_shared<ScriptedTask>(executor, record, c.work);
        task->execute();
        record.started.get_future().wait();
        c.whileRunning(*task);
        finish(executor, record);
        EXPECT_EQ(record.outcome, c.outcome);
        EXPECT_EQ(record.workInterrupted, c.workInterrupted);
        EXPECT_TRUE(task->isDone());
        EXPECT_EQ(task->getState(), ScriptedTask::State::DONE);
        EXPECT_FALSE(task->cancel(true)) << "nothing left to cancel";
    }
    EXPECT_TRUE(queue.empty());
}

TEST(BackgroundTaskTest, GetWaitsForTheEndAndCanBeInterrupted) {
    EventQueueExecutor executor;
    BlockingQueue<int> queue;
    Record record;
    auto task = std::make_shared<ScriptedTask>(executor, record, [&](ScriptedTask&) { return queue.take(); });
    task->execute();

    // This thread is interrupted while it waits for the result.
    auto self = Interruptible::currentFlag();
    std::thread interrupter([&] { self->interrupt(); });
    EXPECT_THROW(task->get(), InterruptedError);
    interrupter.join();
    EXPECT_FALSE(Interruptible::isInterrupted());

    // Another thread waits and gets the result once the work ends.
    auto result = std::async(std::launch::async, [&] { return task->get(); });
    queue.put(17);
    ASSERT_EQ(result.wait_for(kSafety), std::future_status::ready);
    EXPECT_EQ(result.get(), 17);
    finish(executor, record);
    EXPECT_EQ(record.outcome, "result 17");
}

TEST(BackgroundTaskTest, ItemsArriveInOrderBeforeDone) {
    constexpr int kCount = 20000;
    const auto publishAll = [](ScriptedTask& task) {
        for (int i = 0; i < kCount; ++i)
            task.emit(i);
        return kCount;
    };
    for (bool executorRunsMeanwhile : {true, false}) {
        SCOPED_TRACE(executorRunsMeanwhile ? "delivered while publishing" : "delivered after the work ended");
        EventQueueExecutor executor;
        Record record;
        auto task = std::make_shared<ScriptedTask>(executor, record, publishAll);
        task->execute();
        if (!executorRunsMeanwhile) {
            EXPECT_EQ(task->get(), kCount);
        }
        finish(executor, record);

        std::vector<int> all;
        for (const auto& batch : record.batches) {
            EXPECT_FALSE(batch.empty());
            all.insert(all.end(), batch.begin(), batch.end());
        }
        ASSERT_EQ(all.size(), static_cast<std::size_t>(kCount));
        for (int i = 0; i < kCount; ++i)
            ASSERT_EQ(all[i], i);
        EXPECT_EQ(record.batchesAtDone, record.batches.size()) << "no item after done()";
        // Everything published before the executor ran comes in one call.
        if (!executorRunsMeanwhile) {
            EXPECT_EQ(record.batches.size(), 1u);
        }
    }
}

TEST(BackgroundTaskTest, CancelledBeforeExecuteNeverWorksButIsDone) {
    EventQueueExecutor executor;
    Record record;
    bool worked = false;
    auto task = std::make_shared<ScriptedTask>(executor, record, [&](ScriptedTask&) {
        worked = true;
        return 0;
    });
    EXPECT_EQ(task->getState(), ScriptedTask::State::PENDING);
    EXPECT_TRUE(task->cancel(false));
    EXPECT_FALSE(task->cancel(true));
    task->execute();
    EXPECT_THROW(task->execute(), std::logic_error);
    finish(executor, record);
    EXPECT_FALSE(worked);
    EXPECT_EQ(record.outcome, "cancelled");
    EXPECT_THROW(task->get(), CancellationError);
}

TEST(BackgroundTaskTest, TaskOutlivesItsDroppedOwner) {
    EventQueueExecutor executor;
    Record record;
    BlockingQueue<int> queue;
    std::weak_ptr<ScriptedTask> watch;
    {
        auto task = std::make_shared<ScriptedTask>(executor, record, [&](ScriptedTask& self) {
            self.emit(queue.take());
            return 0;
        });
        watch = task;
        task->execute();
        task->cancel(false);
    }
    queue.put(9);
    finish(executor, record);
    EXPECT_EQ(record.outcome, "cancelled");
    EXPECT_EQ(record.batches, (std::vector<std::vector<int>>{{9}}));
    // Once done() has run nothing holds the task any more (its thread may take a moment to let go).
    while (!watch.expired())
        std::this_thread::yield();
}

}  // namespace
