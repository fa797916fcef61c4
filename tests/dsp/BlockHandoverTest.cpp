#include "dsp/BlockHandover.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

namespace tq {
namespace {

TEST(BlockHandover, ReaderSeesOnlyTheNewestPublicationOnce) {
    BlockHandover<int> handover;
    handover.front() = 10;
    EXPECT_FALSE(handover.adopt());  // nothing published yet
    EXPECT_EQ(handover.front(), 10);

    handover.back() = 1;
    handover.publish();
    handover.back() = 2;
    handover.publish();
    EXPECT_EQ(handover.front(), 10);  // publishing alone changes nothing the reader sees
    EXPECT_TRUE(handover.adopt());
    EXPECT_EQ(handover.front(), 2);
    EXPECT_FALSE(handover.adopt());  // taken once
    EXPECT_EQ(handover.front(), 2);
}

TEST(BlockHandover, WriterNeverGetsTheReadersSlot) {
    BlockHandover<int> handover;
    for (int round = 0; round < 20; ++round) {
        const int* reading = &handover.front();
        for (int publications = 0; publications < round % 4; ++publications) {
            EXPECT_NE(&handover.back(), reading) << round;
            handover.back() = round;
            handover.publish();
        }
        EXPECT_NE(&handover.back(), reading) << round;
        const bool published = round % 4 != 0;
        EXPECT_EQ(handover.adopt(), published) << round;
        if (published) {
            EXPECT_EQ(handover.front(), round);
        }
    }
}

// A record whose words must all agree: a reader that saw a slot while it was written
// would find two different numbers. Run under ThreadSanitizer as well.
TEST(BlockHandoverThread, ReaderNeverSeesAHalfWrittenSlot) {
    using Record = std::array<long, 64>;
    BlockHandover<Record> handover;
    handover.front().fill(0);
    constexpr long kPublications = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (long serial = 1; serial <= kPublications; ++serial) {
            handover.back().fill(serial);
            handover.publish();
        }
        done = true;
    });
    long last = 0;
    long torn = 0;
    long backwards = 0;
    bool finished = false;
    while (!finished) {
        finished = done.load();  // one more look after the writer's last publication
        handover.adopt();
        const Record& record = handover.front();
        for (const long word : record) torn += word != record[0] ? 1 : 0;
        backwards += record[0] < last ? 1 : 0;
        last = record[0];
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(last, kPublications);  // the last publication always arrives
}

}  // namespace
}  // namespace tq
