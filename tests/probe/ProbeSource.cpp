#include "tests/probe/ProbeSource.h"

#include "core/System.h"
#include "core/Text.h"
#include "devices/ReaderFactory.h"
#include "tests/support/FailingReader.h"

#include <cerrno>
#include <unistd.h>

namespace probe {

BoxRecorder::BoxRecorder() {
    previous_ = setMessageDialogHandler(
        [this](int, const std::string& text, WindowHandle, bool, const char*) {
            if (!text_.empty())
                text_ += '\n';
            text_ += text;
            return 0;
        });
}

BoxRecorder::~BoxRecorder() {
    setMessageDialogHandler(std::move(previous_));
}

std::vector<std::string> readKnownDescriptors(const std::string& path) {
    std::string text;
    if (!readFile(path.c_str(), text))
        throw Failure("cannot read " + path);
    std::vector<std::string> lines;
    split(text, lines, '\n');
    std::vector<std::string> known;
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            known.push_back(line);
    }
    return known;
}

SourceOptions takeSourceOptions(Args& args) {
    SourceOptions options;
    std::string text;
    if (takeOption(args, "--known", text))
        options.known = readKnownDescriptors(text);
    if (takeOption(args, "--fail", text)) {
        std::vector<std::string> pieces;
        split(text, pieces, ',');
        for (const std::string& p : pieces)
            options.failing.push_back(parseNumber(p));
    }
    return options;
}

std::unique_ptr<dt::Reader> openChain(const std::vector<std::string>& known,
                                      const std::string& descriptor) {
    BoxRecorder boxes;
    std::unique_ptr<dt::Reader> chain =
        createReaderFromDescr(known, descriptor.c_str(), nullptr, 0);
    if (!chain)
        throw Failure(boxes.text());
    return chain;
}

SharedPtr<Driver> openDriver(const SourceOptions& options, const std::string& descriptor) {
    SharedPtr<dt::Reader> top(openChain(options.known, descriptor).release());
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

void writeOut(const u8* data, u64 n) {
    while (n > 0) {
        ssize_t put = ::write(STDOUT_FILENO, data, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            throw Failure("cannot write to standard output");
        data += put;
        n -= static_cast<u64>(put);
    }
}

} // namespace probe
