// Threads and Sleep.
#include "platform/thread.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace tessivane::platform {
namespace {

struct Work {
    std::atomic<int> value{0};
    std::atomic<bool> release{false};
};

DWORD setValue(void* parameter) {
    auto* work = static_cast<Work*>(parameter);
    while (!work->release.load()) {
        Sleep(1);
    }
    work->value = 42;
    return 0;
}

TEST(Thread, RunsItsRoutineWithItsParameterAndEndsCleanlyAfterItsHandleIsClosed) {
    Work work;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, setValue, &work, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL), TRUE);
    // Closing the handle of a running thread leaves it running.
    EXPECT_EQ(CloseHandle(thread), TRUE);
    work.release = true;
    for (int i = 0; i < 5000 && work.value.load() == 0; ++i) {
        Sleep(1);
    }
    EXPECT_EQ(work.value.load(), 42);
}

TEST(Thread, RefusesWhatItDoesNotSupport) {
    Work work;
    int attributes = 0;
    EXPECT_EQ(CreateThread(&attributes, 0, setValue, &work, 0, nullptr), nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, setValue, &work, 4 /* CREATE_SUSPENDED */, nullptr),
              nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, &work, 0, nullptr), nullptr);
    int notAThread = 0;
    EXPECT_EQ(SetThreadPriority(&notAThread, THREAD_PRIORITY_TIME_CRITICAL), FALSE);
    EXPECT_EQ(CloseHandle(&notAThread), FALSE);
    HANDLE thread = CreateThread(nullptr, 64 * 1024, setValue, &work, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(SetThreadPriority(thread, 99), FALSE);
    work.release = true;
    // The thread reads work until it has set the value: work must outlive that.
    for (int i = 0; i < 5000 && work.value.load() == 0; ++i) {
        Sleep(1);
    }
    EXPECT_EQ(CloseHandle(thread), TRUE);
}

DWORD finishSoon(void*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

TEST(Thread, ASleepEndsWhenAThreadEnds) {
    // Pollers that wait for a thread to finish see it at once, not a whole sleep later.
    HANDLE thread = CreateThread(nullptr, 0, finishSoon, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const auto start = std::chrono::steady_clock::now();
    Sleep(60000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(CloseHandle(thread), TRUE);
}

} // namespace
} // namespace tessivane::platform
