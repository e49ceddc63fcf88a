// The undo/redo event ring: wrapping at 256 events, the byte budget, the
// redo tail dropped by a new edit, and the bookkeeping check of the clear.
#include "sys/event.h"

#include "sys/config.h"
#include "sys/mem.h"

#include "testlog.h"

#include <gtest/gtest.h>

#include <vector>

class Event : public testing::Test {
protected:
    void SetUp() override
    {
        cfg_seti(cfg_undomemory, 256);
        ASSERT_EQ(event_alloc(), 1);
    }
    void TearDown() override
    {
        event_free();
        cfg_seti(cfg_undomemory, 256);
    }
    // Queues an event whose old and new blobs have the given sizes; aux
    // carries the event's number.
    static void queue(int32_t aux, uint32_t oldsize, uint32_t newsize)
    {
        std::vector<uint8_t> before(oldsize, (uint8_t)aux), after(newsize, (uint8_t)~aux);
        ASSERT_EQ(event_queue(event_layerdata, aux, oldsize, before.data(), newsize, after.data()), 1);
    }
    static int held()
    {
        int n = 0;
        for (int s = 0; s < event_slots; s++)
            n += event_ring[s].type != 0;
        return n;
    }
};

TEST_F(Event, RingKeepsTheLast256Events)
{
    for (int i = 0; i < 300; i++)
        queue(i, 10, 20);
    EXPECT_EQ(event_oldest, 44u);
    EXPECT_EQ(event_position, 300u);
    EXPECT_EQ(event_end, 300u);
    EXPECT_EQ(held(), 256);
    EXPECT_EQ(event_bytes, 256u * 30);
    for (uint32_t i = event_oldest; i < event_end; i++) {
        const event &e = event_ring[i % event_slots];
        ASSERT_EQ(e.aux, (int32_t)i);
        ASSERT_EQ(((uint8_t *)e.olddata)[9], (uint8_t)i);
        ASSERT_EQ(((uint8_t *)e.newdata)[19], (uint8_t)~i);
    }
}

TEST_F(Event, BudgetDropsTheOldestEvents)
{
    struct Case {
        const char *name;
        int32_t megabytes;
        std::vector<uint32_t> halves; // each event: old and new blob of this size
        uint32_t oldest;
        int held;
    };
    const Case cases[] = {
        {"three 600 KB events in 1 MB", 1, {300 * 1024, 300 * 1024, 300 * 1024}, 2, 1},
        {"two 400 KB events in 1 MB", 1, {200 * 1024, 200 * 1024}, 0, 2},
        {"one event beyond the budget is still kept", 1, {100, 1024 * 1024}, 1, 1},
        {"4,096 MB does not wrap to nothing", 4096, {1, 1, 1}, 0, 3},
        {"no budget keeps only the newest", 0, {1, 1}, 1, 1},
    };
    for (const Case &c : cases) {
        event_clear();
        cfg_seti(cfg_undomemory, c.megabytes);
        uint64_t bytes = 0;
        for (size_t i = 0; i < c.halves.size(); i++) {
            queue((int32_t)i, c.halves[i], c.halves[i]);
            bytes = 2ull * c.halves[i];
        }
        EXPECT_EQ(event_oldest, c.oldest) << c.name;
        EXPECT_EQ(held(), c.held) << c.name;
        if (c.held == 1)
            EXPECT_EQ(event_bytes, bytes) << c.name;
        EXPECT_EQ(event_ring[(c.halves.size() - 1) % event_slots].aux, (int32_t)c.halves.size() - 1) << c.name;
    }
}

TEST_F(Event, BudgetIsComputedIn64Bits)
{
    struct Case {
        int32_t megabytes;
        uint64_t bytes;
    };
    const Case cases[] = {{256, 268435456ull}, {4096, 4294967296ull}, {8192, 8589934592ull}, {-1, 0}};
    for (const Case &c : cases) {
        cfg_seti(cfg_undomemory, c.megabytes);
        EXPECT_EQ(event_budget(), c.bytes) << c.megabytes;
    }
}

TEST_F(Event, QueuingAfterUndoDropsTheRedoTail)
{
    for (int i = 0; i < 5; i++)
        queue(i, 100, 100);
    // Two undos, as the viewport does them.
    event_position -= 2;
    queue(50, 10, 10);
    EXPECT_EQ(event_position, 4u);
    EXPECT_EQ(event_end, 4u);
    EXPECT_EQ(event_ring[3].aux, 50);
    EXPECT_EQ(event_ring[4].type, 0);
    EXPECT_EQ(event_ring[4].olddata, nullptr);
    EXPECT_EQ(held(), 4);
    EXPECT_EQ(event_bytes, 3u * 200 + 20);
}

TEST_F(Event, AbsentBlobsAreStoredAsEmpty)
{
    uint8_t blob[4] = {1, 2, 3, 4};
    ASSERT_EQ(event_queue(event_layerstate, 2, 64, nullptr, 4, blob), 1);
    const event &e = event_ring[0];
    EXPECT_EQ(e.oldsize, 0u);
    EXPECT_EQ(e.olddata, nullptr);
    EXPECT_EQ(e.newsize, 4u);
    EXPECT_EQ(event_bytes, 4u);
    blob[0] = 9; // the ring holds its own copy
    EXPECT_EQ(((uint8_t *)e.newdata)[0], 1);
}

TEST_F(Event, InvalidTypesAreRefused)
{
    testlog_capture log;
    for (int32_t type : {0, -1, (int32_t)event_types})
        EXPECT_EQ(event_queue(type, 0, 0, nullptr, 0, nullptr), 0) << type;
    EXPECT_EQ(event_end, 0u);
    EXPECT_EQ(log.count("event_queue: refused event type"), 3);
}

TEST_F(Event, ClearChecksTheByteBookkeeping)
{
    struct Case {
        uint64_t skew;
        bool reported;
    };
    const Case cases[] = {{0, false}, {5, true}};
    for (const Case &c : cases) {
        testlog_capture log;
        uint64_t before = sys_memtotal;
        queue(1, 1000, 2000);
        queue(2, 3000, 0);
        event_bytes += c.skew;
        event_clear();
        EXPECT_EQ(log.contains("[ ERROR ] Mis-aligned events buffer! Event bytes unaccounted for: 5"), c.reported);
        EXPECT_EQ(event_bytes, 0u);
        EXPECT_EQ(event_position + event_end + event_oldest, 0u);
        EXPECT_EQ(held(), 0);
        EXPECT_EQ(event_ring[1].aux, -1);
        EXPECT_EQ(sys_memtotal, before);
    }
}
