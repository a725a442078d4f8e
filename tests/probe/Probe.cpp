#include "tests/probe/Probe.h"

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
    {"read", "read [--known FILE] DESCRIPTOR OFFSET LENGTH", cmdRead},
    {"tree-demo", "tree-demo DESCRIPTION DEST [--mask M] [--limit BYTES] [--answer yes|no|all]",
     cmdTreeDemo},
    {"dump",
     "dump [--known FILE] DESCRIPTOR boot|fat|dir|table LBA [--type 12|16|32] [--fail LBA,...]\n"
     "       hbprobe dump [--known FILE] DESCRIPTOR mft RECORD [--boot LBA] [--fail LBA,...]",
     cmdDump},
    {"tree",
     "tree [--known FILE] [--fail LBA,...] DESCRIPTOR fat|ntfs FIRST_SECTOR [--no-analyze-fats] "
     "[--address] [--hide-deleted] [--backup]",
     cmdTree},
    {"recover",
     "recover [--known FILE] [--fail LBA,...] DESCRIPTOR fat|ntfs FIRST_SECTOR DEST [--mask M] "
     "[--hide-deleted] [--limit BYTES] [--answer yes|no|all] [--no-analyze-fats] [--backup]",
     cmdRecover},
    {"scan",
     "scan [--known FILE] [--fail LBA,...] DESCRIPTOR FIRST COUNT [--quick] [--recover DEST] "
     "[--answer yes|no|all]",
     cmdScan},
    {"analyze",
     "analyze [--known FILE] [--fail LBA,...] DESCRIPTOR [FIRST COUNT] [--quick] [--load FILE] "
     "[--save FILE] [--no-filter] [--choose N|found] [--recover DEST] [--answer yes|no|all]",
     cmdAnalyze},
};

void printUsage(std::ostream& out) {
    out << "usage: hbprobe COMMAND ...\n";
    for (const Command& c : COMMANDS)
        out << "       hbprobe " << c.usage << '\n';
}

} // namespace

bool takeFlag(Args& args, const std::string& name) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it == name) {
            args.erase(it);
            return true;
        }
    }
    return false;
}

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
