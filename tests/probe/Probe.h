#pragma once

// The test probe's commands. Each command lives in the file of its subsystem
// (ProbeCore.cpp, ProbeDevices.cpp, ...) and is listed in the table of Probe.cpp.

#include "core/Types.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace probe {

using Args = std::vector<std::string>; // the arguments after the command name

// A wrong command line: the probe prints the command's usage line and exits 2.
struct UsageError : std::runtime_error {
    UsageError() : std::runtime_error("usage") {}
};

// A failure: the probe prints the text on standard error and exits 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int main(int argc, char** argv);

// Small option parser: takes "--name VALUE" out of args wherever it stands,
// leaving the positional arguments in order.
bool takeOption(Args& args, const std::string& name, std::string& value);
unsigned long long parseNumber(const std::string& text); // UsageError when not a number

// Commands.
int cmdLog(Args& args);     // ProbeCore.cpp
int cmdRead(Args& args);    // ProbeDevices.cpp
int cmdScan(Args& args);    // ProbeScan.cpp
int cmdAnalyze(Args& args); // ProbeScan.cpp

} // namespace probe
