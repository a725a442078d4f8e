// LZNT1 units as they come off a damaged disk, into outputs of several sizes;
// and the same bytes through the test compressor and back.
//
// Input: a byte choosing the output size, then the compressed stream.

#include "fs/ntfs/Lznt1.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/Lznt1Compressor.h"

namespace {

using fuzzsupport::require;

constexpr u32 CAPACITIES[] = {65536, 4096, 4097, 8192, 1000, 1, 0, 32768};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 70000)
        return 0;
    const u32 capacity = CAPACITIES[data[0] % 8];
    // Exactly sized buffers: a step outside either meets the address sanitizer.
    std::vector<u8> input(data + 1, data + size);
    const ConstArray in(input.data(), static_cast<u32>(input.size()));

    std::vector<u8> output(capacity);
    u32 outPos = 0, inPos = 0;
    decompressLznt1(Array(output.data(), capacity), outPos, in, inPos);
    require(outPos <= capacity && inPos <= input.size());

    // The whole input as one chunk's tokens: never more than a chunk's output.
    outPos = 0;
    u32 chunkPos = 0;
    if (!input.empty()) {
        decompressLznt1Chunk(Array(output.data(), capacity), outPos, in, chunkPos);
        require(outPos <= capacity && outPos <= LZNT1_CHUNK_SIZE && chunkPos <= input.size());
    }

    // What the compressor makes decodes to what it was given.
    const std::vector<u8> packed = lznt1test::compress(input);
    std::vector<u8> back(input.size());
    outPos = inPos = 0;
    require(decompressLznt1(Array(back.data(), static_cast<u32>(back.size())), outPos,
                            ConstArray(packed.data(), static_cast<u32>(packed.size())), inPos));
    require(outPos == input.size() && back == input);
    return 0;
}
