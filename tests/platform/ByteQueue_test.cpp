// The byte queue gives out exactly what it took, in order, through every mix of appends and takes
// that empties it, compacts it or lets it grow.
#include "platform/ByteQueue.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace {

TEST(ByteQueue, GivesOutWhatItTookInOrderThroughAnyMixOfAppendsAndTakes) {
    std::mt19937 random(2026);
    platform::ByteQueue queue;
    std::deque<uint8_t> expected;
    uint8_t next = 0;
    for (int step = 0; step < 20000; ++step) {
        // Appends of up to 300 bytes, takes of up to 400: the queue empties, refills, and at
        // times holds more than half a buffer that has been partly given out.
        if (random() % 2 == 0) {
            std::vector<uint8_t> chunk(random() % 300);
            for (uint8_t &byte : chunk) byte = next++;
            queue.Append(chunk.data(), chunk.size());
            expected.insert(expected.end(), chunk.begin(), chunk.end());
        } else {
            std::vector<uint8_t> out(random() % 400);
            const size_t taken = queue.Take(out.data(), out.size());
            ASSERT_EQ(taken, std::min(out.size(), expected.size())) << "step " << step;
            for (size_t i = 0; i < taken; ++i) {
                ASSERT_EQ(out[i], expected.front()) << "step " << step << ", byte " << i;
                expected.pop_front();
            }
        }
        ASSERT_EQ(queue.size(), expected.size()) << "step " << step;
        ASSERT_EQ(queue.empty(), expected.empty());
    }
    queue.clear();
    uint8_t byte = 0;
    EXPECT_EQ(queue.Take(&byte, 1), 0u);
}

} // namespace
