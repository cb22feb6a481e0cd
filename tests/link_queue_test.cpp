// CQueue: the digit queue shared by the link thread and the host's threads.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/Queue.h"

namespace {

void PushText(CQueue &queue, const char *szText) {
    for (; *szText; ++szText) queue.Push(static_cast<BYTE>(*szText));
}

}  // namespace

TEST(Queue, PopsInArrivalOrderThenTheEmptyMarker) {
    CQueue queue;
    PushText(queue, "12#");
    EXPECT_EQ('1', queue.Pop());
    EXPECT_EQ('2', queue.Pop());
    EXPECT_EQ('#', queue.Pop());
    EXPECT_EQ(CQueue::D_cEmpty, queue.Pop()) << "an empty queue answers 255";
    EXPECT_EQ(CQueue::D_cEmpty, queue.Pop()) << "and keeps answering it";
}

TEST(Queue, PushOnAFullQueueDropsTheOldest) {
    CQueue queue;
    for (int i = 0; i < CQueue::D_nCapacity; ++i) queue.Push(static_cast<BYTE>(i % 200));
    queue.Push(250);
    EXPECT_EQ(CQueue::D_nCapacity, queue.Count());
    EXPECT_EQ(1, queue.Pop()) << "the oldest byte (0) was dropped; the second oldest comes first";
    char acRest[CQueue::D_nCapacity];
    ASSERT_EQ(CQueue::D_nCapacity - 1, queue.PopUpTo(acRest, CQueue::D_nCapacity));
    EXPECT_EQ(static_cast<char>(250), acRest[CQueue::D_nCapacity - 2]) << "the newest byte is last";
}

TEST(Queue, ClearEmptiesTheQueue) {
    CQueue queue;
    PushText(queue, "123");
    queue.Clear();
    EXPECT_EQ(0, queue.Count());
    EXPECT_EQ(CQueue::D_cEmpty, queue.Pop());
}

// Draining 30 digits into a 30-byte host buffer must not take the 31st.
TEST(Queue, PopUpToLeavesTheNextByteQueued) {
    CQueue queue;
    PushText(queue, "0123456789012345678901234567890");  // 31 digits
    char acBuffer[30];
    EXPECT_EQ(30, queue.PopUpTo(acBuffer, 30));
    EXPECT_EQ(std::string("012345678901234567890123456789"), std::string(acBuffer, 30));
    EXPECT_EQ('0', queue.Pop()) << "the 31st digit stays for the next call";
    EXPECT_EQ(0, queue.PopUpTo(acBuffer, 30)) << "an empty queue yields nothing";
    EXPECT_EQ(0, queue.PopUpTo(acBuffer, 0));
}

// The host's drain stops at a held 255 (the empty marker's value), which is
// taken and lost, and leaves what follows queued; a full buffer leaves the
// next byte queued whatever it is.
struct DrainCase {
    const char *szName;
    std::string strQueued;
    std::vector<std::string> drains;  // what each drain of 30 gives
};

void PrintTo(const DrainCase &drain, std::ostream *pStream) { *pStream << drain.szName; }

class Drain : public ::testing::TestWithParam<DrainCase> {};

TEST_P(Drain, StopsAtA255WhichIsLost) {
    CQueue queue;
    for (char c : GetParam().strQueued) queue.Push(static_cast<BYTE>(c));
    for (const std::string &strExpected : GetParam().drains) {
        char acOut[40];
        const int nTaken = queue.DrainUpTo(acOut, 30);
        EXPECT_EQ(strExpected, std::string(acOut, nTaken));
    }
    EXPECT_EQ(0, queue.Count()) << "everything was drained or lost";
}

const std::string D_str30(30, '7');

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Table, Drain,
    ::testing::Values(DrainCase{"MarkerInTheMiddle", "12\xFF" "34", {"12", "34"}},
                      DrainCase{"MarkerFirst", "\xFF" "5", {"", "5"}},
                      DrainCase{"TwoMarkers", "1\xFF\xFF" "2", {"1", "", "2"}},
                      DrainCase{"MarkerAfterAFullBufferStaysQueued", D_str30 + "\xFF" "9", {D_str30, "", "9"}}),
    [](const ::testing::TestParamInfo<DrainCase> &info) { return std::string(info.param.szName); });
// clang-format on

// Fault: the link thread pushed and the host's threads popped the same
// bytes without any lock, so digits could be lost or handed out twice. One
// producer, three consumers (single pops and drains of several bytes):
// every pushed byte comes out exactly once.
TEST(Queue, SharedBetweenThreadsLosesOrDuplicatesNoDigit) {
    CQueue queue;
    const int nPushes = 60000;
    const int nValues = 250;  // every value but the empty marker
    std::atomic<bool> bProducing{true};
    std::thread producer([&] {
        for (int i = 0; i < nPushes; ++i) {
            // Stay below capacity so that no byte is dropped by design.
            while (queue.Count() > CQueue::D_nCapacity - 8) Sleep(0);
            queue.Push(static_cast<BYTE>(i % nValues));
        }
        bProducing = false;
    });
    std::vector<std::vector<int>> seen(3, std::vector<int>(nValues));
    std::vector<std::thread> consumers;
    for (int c = 0; c < 3; ++c) {
        consumers.emplace_back([&, c] {
            char acChunk[8];
            for (;;) {
                const bool bLastRound = !bProducing;
                int nTaken;
                if (c == 0) {
                    const BYTE cByte = queue.Pop();
                    nTaken = cByte == CQueue::D_cEmpty ? 0 : 1;
                    acChunk[0] = static_cast<char>(cByte);
                } else {
                    nTaken = queue.PopUpTo(acChunk, 3 * c);
                }
                for (int i = 0; i < nTaken; ++i) ++seen[c][static_cast<BYTE>(acChunk[i])];
                if (nTaken == 0 && bLastRound) return;
            }
        });
    }
    producer.join();
    for (std::thread &consumer : consumers) consumer.join();
    for (int v = 0; v < nValues; ++v) {
        const int nExpected = nPushes / nValues + (v < nPushes % nValues ? 1 : 0);
        ASSERT_EQ(nExpected, seen[0][v] + seen[1][v] + seen[2][v])
            << "byte value " << v << " was lost or handed out twice";
    }
}
