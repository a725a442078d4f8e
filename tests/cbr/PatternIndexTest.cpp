#include "cbr/PatternIndex.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using cbr::Pattern;
using cbr::PatternIndex;

Pattern make(u32 offset, const std::string& bytes) {
    Pattern p;
    p.setBytes(offset, reinterpret_cast<const u8*>(bytes.data()), static_cast<u32>(bytes.size()));
    return p;
}

std::vector<u32> candidates(const PatternIndex& index, const std::vector<u8>& sector,
                            u32 size = 0) {
    std::vector<u32> out;
    index.forEachCandidate(sector.data(), size ? size : static_cast<u32>(sector.size()),
                           [&](u32 i) {
                               out.push_back(i);
                               return false;
                           });
    return out;
}

// Against the plain walk over tables of every shape: more than 64 patterns,
// offsets up to the sector's end, shared prefixes, patterns without bytes.
// Every pattern whose bytes match must be a candidate, and candidates come in
// ascending order.
TEST(PatternIndexTest, NeverDropsAPatternThePlainWalkWouldMatch) {
    std::mt19937 random(12345);
    auto byte = [&](u32 alphabet) { return static_cast<char>(random() % alphabet); };
    for (int round = 0; round < 40; ++round) {
        const u32 count = 1 + random() % 150;
        const u32 alphabet = 2 + random() % 6; // few byte values: many near misses
        std::vector<Pattern> patterns;
        for (u32 i = 0; i < count; ++i) {
            if (random() % 10 == 0) {
                patterns.emplace_back();
                continue;
            }
            const u32 length = 1 + random() % (random() % 4 == 0 ? 64 : 5);
            const u32 offsets[] = {
                0, 0, 4, 8, 512 - length, static_cast<u32>(random() % (513 - length))};
            std::string bytes;
            for (u32 k = 0; k < length; ++k)
                bytes += byte(alphabet);
            patterns.push_back(make(offsets[random() % 6], bytes));
        }
        PatternIndex index;
        index.build(patterns);
        for (int s = 0; s < 200; ++s) {
            std::vector<u8> sector(512 + random() % 1024);
            for (u8& b : sector)
                b = static_cast<u8>(byte(alphabet));
            // Plant some pattern whole, or all but its last byte.
            const Pattern& planted = patterns[random() % count];
            for (u32 k = 0; k < planted.length(); ++k)
                sector[planted.offset() + k] = planted.bytes()[k];
            if (planted.length() > 0 && random() % 2)
                sector[planted.offset() + planted.length() - 1] ^= 1;

            const auto got = candidates(index, sector);
            for (std::size_t k = 1; k < got.size(); ++k)
                ASSERT_LT(got[k - 1], got[k]);
            for (u32 i = 0; i < count; ++i) {
                if (patterns[i].bytesMatch(sector.data(), static_cast<u32>(sector.size()))) {
                    ASSERT_TRUE(std::binary_search(got.begin(), got.end(), i))
                        << "round " << round << " pattern " << i;
                }
            }
        }
    }
}

} // namespace
