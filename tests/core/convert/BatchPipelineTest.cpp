#include "core/convert/detail/BatchPipeline.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <stdexcept>
#include <thread>
#include <vector>

using plistable::detail::BatchPipeline;

namespace {

using Batch = std::vector<int>;

TEST(BatchPipelineTest, ConsumesEveryBatchInOrderAndHandsStorageBack)
{
    // The consumer is slow at first, so the producer meets a full queue and waits.
    std::vector<int> seen;
    std::atomic<int> consumed = 0;
    BatchPipeline<Batch> pipeline(
        [&](Batch& batch) {
            if (consumed++ < 3)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            seen.insert(seen.end(), batch.begin(), batch.end());
        },
        1);
    Batch batch;
    int next = 0;
    std::size_t recycled = 0;
    for (int round = 0; round < 50; ++round) {
        for (int i = 0; i < 7; ++i)
            batch.push_back(next++);
        batch = pipeline.push(std::move(batch));
        recycled += batch.capacity() > 0;
        batch.clear();
    }
    batch.push_back(next++);
    pipeline.finish(std::move(batch));

    std::vector<int> expected(static_cast<std::size_t>(next));
    for (int i = 0; i < next; ++i)
        expected[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(consumed, 51);
    EXPECT_GT(recycled, 0u); // consumed batches come back to be filled again
}

TEST(BatchPipelineTest, WithoutAPushTheLastBatchIsConsumedOnTheCallersThread)
{
    std::thread::id consumer;
    int calls = 0;
    BatchPipeline<Batch> pipeline([&](Batch& batch) {
        consumer = std::this_thread::get_id();
        calls += static_cast<int>(batch.size());
    });
    pipeline.finish(Batch{1, 2});
    pipeline.finish(); // a second finish does nothing
    EXPECT_EQ(consumer, std::this_thread::get_id());
    EXPECT_EQ(calls, 2);
}

TEST(BatchPipelineTest, AFailingConsumerDropsTheRestAndFinishThrowsItsException)
{
    int consumed = 0;
    BatchPipeline<Batch> pipeline([&](Batch&) {
        if (++consumed == 2)
            throw std::runtime_error("disk full");
    });
    for (int i = 0; i < 5; ++i)
        (void)pipeline.push(Batch{i});
    EXPECT_THROW(pipeline.finish(Batch{9}), std::runtime_error);
    EXPECT_EQ(consumed, 2);
}

// When the system gives no thread, every push() consumes its batch on the caller's thread, in order,
// and a failing consumer drops the rest and finish() throws, as with the thread.
TEST(BatchPipelineTest, WithoutAThreadEveryBatchIsConsumedOnTheCallersThread)
{
    plistable::detail::refuseThreadStartsForTesting(true);
    struct Allow {
        ~Allow() { plistable::detail::refuseThreadStartsForTesting(false); }
    } allow;
    for (const int failAt : {0, 3}) {
        SCOPED_TRACE(failAt);
        std::vector<int> seen;
        std::vector<std::thread::id> threads;
        BatchPipeline<Batch> pipeline([&](Batch& batch) {
            threads.push_back(std::this_thread::get_id());
            if (static_cast<int>(threads.size()) == failAt)
                throw std::runtime_error("disk full");
            seen.insert(seen.end(), batch.begin(), batch.end());
        });
        for (int i = 0; i < 5; ++i) {
            Batch next = pipeline.push(Batch{i});
            next.clear();
        }
        if (failAt == 0) {
            pipeline.finish(Batch{5});
            EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5}));
        } else {
            EXPECT_THROW(pipeline.finish(Batch{5}), std::runtime_error);
            EXPECT_EQ(seen, (std::vector<int>{0, 1}));
        }
        EXPECT_EQ(threads, std::vector<std::thread::id>(threads.size(), std::this_thread::get_id()));
    }
}

TEST(BatchPipelineTest, TheConsumersThreadLeavesSignalsToTheCaller)
{
    sigset_t blocked;
    bool checked = false;
    BatchPipeline<Batch> pipeline([&](Batch&) {
        pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
        checked = true;
    });
    (void)pipeline.push(Batch{1});
    pipeline.finish();
    ASSERT_TRUE(checked);
    EXPECT_EQ(sigismember(&blocked, SIGINT), 1);
    EXPECT_EQ(sigismember(&blocked, SIGTERM), 1);
}

} // namespace
