#include "cbr/WalkMemory.h"

#include "tests/cbr/CarvingCorpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using cbr::WalkMemory;
using Next = WalkMemory::Next;
using End = WalkMemory::End;

constexpr u64 SECTOR = 512;

// A chain of places for the walks of these tests: at each place a u32 tells
// where the next place lies, so many bytes on; 0 ends a file four bytes on and
// 1 fails the walk. The walk has limits of its own, as some modules' walks do:
// past `limit` (a window offset) or at `maxSteps` steps it stops, and the file
// ends where it stopped. Sizes that depend on where such a walk started are
// what a memory most easily gets wrong.
struct Outcome {
    bool found = false;
    u64 size = 0;
    bool operator==(const Outcome& o) const { return found == o.found && size == o.size; }
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << (o.found ? "file of " + std::to_string(o.size) : std::string("none"));
}

struct Hit {
    u64 at;
    u64 window;
    u64 limit = ~u64(0);
    i64 maxSteps = INT64_MAX;
};

Outcome walk(const std::string& image, const Hit& hit, WalkMemory* memory, u64& steps) {
    const u64 window = std::min<u64>(hit.window, image.size() - hit.at);
    WalkMemory::Walk w(memory, hit.at, window);
    WalkMemory::Place place;
    for (;;) {
        const Next next = w.arrive(place, hit.limit, hit.maxSteps);
        if (next != Next::GO_ON)
            return {next == Next::FOUND, next == Next::FOUND ? place.at : 0};
        if (place.at > hit.limit || place.steps >= hit.maxSteps) {
            w.ended(End::HALTED, place);
            return {true, place.at};
        }
        if (place.at > window || window - place.at < 4)
            return {w.readFailed(place, false), 0};
        ++steps;
        const std::string bytes = image.substr(hit.at + place.at, 4);
        const u32 value = static_cast<u32>(
            static_cast<u8>(bytes[0]) | static_cast<u8>(bytes[1]) << 8 |
            static_cast<u8>(bytes[2]) << 16 | static_cast<u32>(static_cast<u8>(bytes[3])) << 24);
        if (value == 0) {
            w.ended(End::FOUND, place, place.at + 4);
            return {true, place.at + 4};
        }
        if (value == 1) {
            w.ended(End::FAILED, place);
            return {false, 0};
        }
        place.at += value;
        ++place.steps;
    }
}

void put32(std::string& image, u64 at, u32 value) {
    image.replace(at, 4, corpus::le(value, 4));
}

struct Shape {
    const char* name;
    std::string image;
    std::vector<Hit> hits;
};

// Every sector starts a walk that goes to offset 8, where chain (s mod k)
// steps k sectors on; the last sectors end their chains when `ended`.
Shape interleaved(const char* name, u64 sectors, u32 k, bool ended, u64 window) {
    Shape shape{name, std::string(sectors * SECTOR, '\0'), {}};
    for (u64 s = 0; s < sectors; ++s) {
        put32(shape.image, s * SECTOR, 8);
        put32(shape.image, s * SECTOR + 8, s + k < sectors || !ended ? k * SECTOR : 0);
        shape.hits.push_back({s * SECTOR, window});
    }
    return shape;
}

// Chains of random steps, mostly short, some across many sectors, a few
// ending or failing; hits at every sector with windows and limits of their
// own.
Shape random(const char* name, u64 sectors, u32 seed, bool limits) {
    Shape shape{name, std::string(sectors * SECTOR, '\0'), {}};
    u64 x = 0x9E3779B97F4A7C15ull ^ seed;
    auto next = [&](u64 n) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x % n;
    };
    for (u64 at = 0; at + 4 <= shape.image.size(); at += 4) {
        const u64 pick = next(1000);
        u32 value = static_cast<u32>(4 + 4 * next(pick < 900 ? 64 : 4096));
        if (pick >= 998)
            value = static_cast<u32>(pick - 998);
        put32(shape.image, at, value);
    }
    for (u64 s = 0; s < sectors; ++s) {
        Hit hit{s * SECTOR, 8192 + 512 * next(512)};
        if (limits && next(2) == 0) {
            hit.limit = 1024 + next(65536);
            hit.maxSteps = static_cast<i64>(1 + next(400));
        }
        shape.hits.push_back(hit);
    }
    return shape;
}

// Walks from every hit in order with one memory and each afresh: the outcomes
// are the same, and the walks with the memory take a bounded number of steps
// for each hit, where those afresh take as many as the chains are long.
TEST(WalkMemoryTest, WalksWithTheMemoryEndAsWalksAfreshAndStepOnEachPlaceBoundedTimes) {
    const Shape shapes[] = {
        interleaved("one chain, cut", 2048, 1, false, ~u64(0)),
        interleaved("one chain, ended", 2048, 1, true, ~u64(0)),
        interleaved("two chains, cut", 2048, 2, false, ~u64(0)),
        interleaved("two chains, ended", 2048, 2, true, ~u64(0)),
        interleaved("seventeen chains, ended", 2048, 17, true, ~u64(0)),
        interleaved("two chains, short windows", 2048, 2, true, 64 * 1024),
        random("random steps", 2048, 1, false),
        random("random steps and limits", 2048, 2, true),
        random("random steps and limits again", 2048, 3, true),
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        WalkMemory memory;
        u64 remembering = 0;
        u64 afresh = 0;
        for (const Hit& hit : shape.hits) {
            const Outcome expected = walk(shape.image, hit, nullptr, afresh);
            ASSERT_EQ(walk(shape.image, hit, &memory, remembering), expected)
                << "hit at " << hit.at;
        }
        // A walk sees a join within a granule of 4 KiB, a place at least every
        // 4 bytes: what is walked again stays within that for each hit.
        EXPECT_LE(remembering, shape.hits.size() * 2 * 1024 + shape.image.size() / 4);
    }
}

// The memory holds the paths ahead of the scan: after chains walked from every
// sector, what it keeps is what lies ahead of the last hit, even while one
// long path lies ahead of every hit and each hit adds a stretch of its own.
TEST(WalkMemoryTest, KeepsOnlyThePathsAheadOfTheScan) {
    struct Case {
        Shape shape;
        std::size_t marks; // at most, after the last hit
    };
    const Case cases[] = {
        // Two chains through the last 256 KiB, a mark every 4 KiB of each.
        {interleaved("two chains, short windows", 16384, 2, false, 256 * 1024), 2 * 256 / 4 * 2},
        {interleaved("one chain to the end", 16384, 1, true, ~u64(0)), 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shape.name);
        WalkMemory memory;
        u64 steps = 0;
        std::size_t mostSegments = 0;
        for (const Hit& hit : c.shape.hits) {
            walk(c.shape.image, hit, &memory, steps);
            mostSegments = std::max(mostSegments, memory.segments());
        }
        EXPECT_LE(memory.marks(), c.marks);
        // Segments behind the scan are dropped once 1,024 pile up beside the few
        // ahead: the stretches of 16,384 hits never all stay.
        EXPECT_LE(mostSegments, 1100u);
    }
}

} // namespace
