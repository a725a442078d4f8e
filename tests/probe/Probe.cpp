#include "tests/probe/Probe.h"

#include "app/Startup.h"

#include <cstring>
#include <exception>
#include <iostream>

namespace probe {

namespace {

struct Command {
    const char* name;
    const char* usage;
    int (*run)(Args& args);
};

const Command COMMANDS[] = {
    {"log", "log TARGET [OUT]", cmdLog},
    {"scan",
     "scan [--fail LBA,...] DESCRIPTOR FIRST COUNT [--recover DEST] "
     "[--answer yes|no|all]",
     cmdScan},
    {"analyze",
     "analyze [--fail LBA,...] DESCRIPTOR [--load FILE] [--save FILE] "
     "[--choose N|found] [--recover DEST] [--answer yes|no|all]",
     cmdAnalyze},
};

void printUsage(std::ostream& out) {
    out << "usage: hbprobe COMMAND ...\n";
    for (const Command& c : COMMANDS)
        out << "       hbprobe " << c.usage << '\n';
}

} // namespace

bool takeOption(Args& args, const std::string& name, std::string& value) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it == name) {
            if (it + 1 == args.end())
                throw UsageError();
            value = *(it + 1);
            args.erase(it, it + 2);
            return true;
        }
    }
    return false;
}

unsigned long long parseNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError();
    try {
        return std::stoull(text);
    } catch (const std::exception&) {
        throw UsageError();
    }
}

int main(int argc, char** argv) {
    // As the program starts: a file-size limit cuts a file, it does not end the run.
    ignoreFileSizeSignal();
    if (argc < 2) {
        printUsage(std::cerr);
        return 2;
    }
    for (const Command& c : COMMANDS) {
        if (std::strcmp(argv[1], c.name) != 0)
            continue;
        Args args(argv + 2, argv + argc);
        try {
            return c.run(args);
        } catch (const UsageError&) {
            std::cerr << "usage: hbprobe " << c.usage << '\n';
            return 2;
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    printUsage(std::cerr);
    return 2;
}

} // namespace probe
