// hbprobe read

#include "devices/ReaderFactory.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeSource.h"
#include "tests/support/TestUtil.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace probe {

namespace {

// Large enough that the system calls cost nothing next to the copying.
constexpr u64 BLOCK = u64(8) << 20;

} // namespace

// Builds the reader chain of DESCRIPTOR and writes LENGTH bytes from OFFSET to
// standard output. A chain that cannot be built fails with the text of its
// error box, a read that fails with the log lines of the chain.
int cmdRead(Args& args) {
    const SourceOptions source = takeSourceOptions(args);
    if (args.size() != 3)
        throw UsageError();
    const u64 offset = parseNumber(args[1]);
    const u64 length = parseNumber(args[2]);
    constexpr u64 MAX = static_cast<u64>(std::numeric_limits<i64>::max());
    if (offset > MAX || length > MAX - offset)
        throw Failure("offset and length pass 2^63");
    std::unique_ptr<dt::Reader> reader = openChain(source.known, args[0]);

    std::vector<u8> buffer(static_cast<std::size_t>(std::min(length, BLOCK)));
    const testutil::LogCapture log;
    for (u64 done = 0; done < length;) {
        const u64 piece = std::min(length - done, BLOCK);
        if (!reader->read(static_cast<i64>(offset + done), buffer.data(), static_cast<i64>(piece)))
            throw Failure("cannot read " + std::to_string(piece) + " bytes at " +
                          std::to_string(offset + done) + "\n" + log.text());
        if (!std::cout.write(reinterpret_cast<const char*>(buffer.data()),
                             static_cast<std::streamsize>(piece)))
            throw Failure("cannot write to standard output");
        done += piece;
    }
    return 0;
}

} // namespace probe
