#include "tests/probe/ProbeSource.h"

#include "core/Text.h"
#include "devices/ReaderFactory.h"
#include "tests/support/FailingReader.h"
#include "tests/support/ScriptedMessages.h"

#include <iostream>

namespace probe {

SourceOptions takeSourceOptions(Args& args) {
    SourceOptions options;
    std::string text;
    if (takeOption(args, "--fail", text)) {
        std::vector<std::string> pieces;
        split(text, pieces, ',');
        for (const std::string& p : pieces)
            options.failing.push_back(parseNumber(p));
    }
    return options;
}

SharedPtr<Driver> openDriver(const SourceOptions& options, const std::string& descriptor) {
    testutil::ScriptedMessages boxes;
    SharedPtr<dt::Reader> top(createReaderFromDescr({}, descriptor.c_str(), nullptr, 0).release());
    std::string text;
    for (const testutil::AskedBox& box : boxes.asked())
        text += (text.empty() ? "" : "\n") + box.text;
    if (!top)
        throw Failure(text);
    if (!options.failing.empty())
        top.reset(new testutil::FailingReader(SharedPtr<dt::Reader>(top), options.failing));
    return SharedPtr<Driver>(new Driver(top, 512));
}

int parseAnswer(const std::string& answer) {
    if (answer == "yes")
        return 0;
    if (answer == "no")
        return 1;
    if (answer == "all")
        return 0x10;
    throw UsageError();
}

std::string escapeLines(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void printMessages(const std::vector<testutil::AskedBox>& boxes) {
    for (const testutil::AskedBox& box : boxes)
        std::cerr << "message: " << escapeLines(box.text) << '\n';
}

} // namespace probe
