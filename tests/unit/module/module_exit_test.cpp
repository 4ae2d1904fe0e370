// The lander object's lifetime across the host's two entry points: ovcExit
// must free the very block that ovcInit allocated. The host hands back a
// VESSEL*, which points behind the lander's virtual table pointer, so a
// delete through that pointer would free an address that was never
// allocated. This program replaces the global allocation functions to see
// which addresses are allocated and freed.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "lander/Lander.h"
#include "recording/RecordingBackend.h"

DLLCLBK VESSEL *ovcInit(OBJHANDLE hvessel, int flightmodel);
DLLCLBK void ovcExit(VESSEL *vessel);

namespace {

// Every block carries a header with a tag, so a free of an address that is
// not the start of a block is recognised (and the block leaked) instead of
// corrupting the heap.
constexpr std::size_t kHeaderSize = 16;
constexpr std::uint64_t kBlockTag = 0x5654414c424c4f43ull;
constexpr std::size_t kMaxEvents = 32;

struct Event {
    const void *address;
    std::size_t size;
    bool startOfBlock;
};

struct AllocationLog {
    bool watching = false;
    Event allocations[kMaxEvents];
    std::size_t allocationCount = 0;
    Event frees[kMaxEvents];
    std::size_t freeCount = 0;
};

AllocationLog allocationLog;

void *AllocateBlock(std::size_t size) {
    auto *raw = static_cast<unsigned char *>(std::malloc(size + kHeaderSize));
    if (!raw) throw std::bad_alloc();
    auto *header = reinterpret_cast<std::uint64_t *>(raw);
    header[0] = kBlockTag;
    header[1] = size;
    void *user = raw + kHeaderSize;
    if (allocationLog.watching && allocationLog.allocationCount < kMaxEvents)
        allocationLog.allocations[allocationLog.allocationCount++] = {user, size, true};
    return user;
}

void FreeBlock(void *user) {
    if (!user) return;
    auto *raw = static_cast<unsigned char *>(user) - kHeaderSize;
    auto *header = reinterpret_cast<std::uint64_t *>(raw);
    const bool startOfBlock = header[0] == kBlockTag;
    if (allocationLog.watching && allocationLog.freeCount < kMaxEvents)
        allocationLog.frees[allocationLog.freeCount++] = {user, startOfBlock ? header[1] : 0, startOfBlock};
    if (!startOfBlock) return;
    header[0] = 0;
    std::free(raw);
}

// Records what is allocated and freed while it lives.
class AllocationWatch {
public:
    AllocationWatch() {
        allocationLog.allocationCount = 0;
        allocationLog.freeCount = 0;
        allocationLog.watching = true;
    }
    ~AllocationWatch() { allocationLog.watching = false; }
    AllocationWatch(const AllocationWatch &) = delete;
    AllocationWatch &operator=(const AllocationWatch &) = delete;
};

}  // namespace

void *operator new(std::size_t size) { return AllocateBlock(size); }
void *operator new[](std::size_t size) { return AllocateBlock(size); }
void operator delete(void *p) noexcept { FreeBlock(p); }
void operator delete[](void *p) noexcept { FreeBlock(p); }
void operator delete(void *p, std::size_t) noexcept { FreeBlock(p); }
void operator delete[](void *p, std::size_t) noexcept { FreeBlock(p); }

namespace {

using vtal::recording::FakeVesselHandle;
using vtal::recording::RecordingBackend;
using vtal::recording::ScopedBackend;

TEST(ModuleExit, FreesExactlyTheBlockThatInitAllocated) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    const void *allocated = nullptr;
    const void *handedToHost = nullptr;
    {
        AllocationWatch watch;
        VESSEL *vessel = ovcInit(FakeVesselHandle(4), 1);
        handedToHost = vessel;
        ASSERT_EQ(allocationLog.allocationCount, 1u);
        allocated = allocationLog.allocations[0].address;
        EXPECT_EQ(allocationLog.allocations[0].size, sizeof(Lander));
        // The host's VESSEL part lies behind the virtual table pointer that
        // VESSEL2 brings in: the pointer the host holds is not the block.
        EXPECT_NE(handedToHost, allocated);
        EXPECT_EQ(static_cast<const void *>(static_cast<Lander *>(vessel)), allocated);

        ovcExit(vessel);
        ASSERT_EQ(allocationLog.freeCount, 1u);
        EXPECT_EQ(allocationLog.frees[0].address, allocated);
        EXPECT_TRUE(allocationLog.frees[0].startOfBlock);
        EXPECT_EQ(allocationLog.frees[0].size, sizeof(Lander));
    }
}

TEST(ModuleExit, EachLanderFreesItsOwnBlockAndNullFreesNothing) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    AllocationWatch watch;
    VESSEL *first = ovcInit(FakeVesselHandle(1), 1);
    VESSEL *second = ovcInit(FakeVesselHandle(2), 0);
    ASSERT_EQ(allocationLog.allocationCount, 2u);
    ovcExit(nullptr);
    EXPECT_EQ(allocationLog.freeCount, 0u);
    ovcExit(second);
    ovcExit(first);
    ASSERT_EQ(allocationLog.freeCount, 2u);
    EXPECT_EQ(allocationLog.frees[0].address, allocationLog.allocations[1].address);
    EXPECT_EQ(allocationLog.frees[1].address, allocationLog.allocations[0].address);
    EXPECT_TRUE(allocationLog.frees[0].startOfBlock && allocationLog.frees[1].startOfBlock);
    EXPECT_TRUE(rec.calls.empty());  // creating and deleting a lander asks nothing of the host
}

}  // namespace
