#pragma once

// What every probe command that reads a source shares: the reader chain built
// as the source page builds it (its error boxes become the failure text),
// "--fail LBA,..." and the answers.

#include "core/Ownership.h"
#include "devices/Driver.h"
#include "tests/probe/Probe.h"
#include "tests/support/ScriptedMessages.h"

#include <memory>
#include <string>
#include <vector>

namespace probe {

// Takes "--fail LBA,..." out of args.
struct SourceOptions {
    std::vector<u64> failing;
};
SourceOptions takeSourceOptions(Args& args);

// A Driver of 512-byte sectors over the chain, the failing sectors wrapped in
// the test reader that fails them.
SharedPtr<Driver> openDriver(const SourceOptions& options, const std::string& descriptor);

// "yes" 0, "no" 1, "all" 0x10 (Yes, and don't ask again); UsageError otherwise.
int parseAnswer(const std::string& answer);

// Multi-line texts on one line, "\n" standing for each line end.
std::string escapeLines(const std::string& text);
// "message: TEXT" on standard error for each box.
void printMessages(const std::vector<testutil::AskedBox>& boxes);

} // namespace probe
