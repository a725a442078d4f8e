// hbprobe sectors: reads a sector range with the retry reader, as a scan does,
// answering the read-error questions from the command line. The sectors go to
// standard output; the read-error lines, the questions and the unreadable runs
// (found, as the scanner finds them, by the pattern in the delivered sectors)
// go to standard error.

#include "core/Ownership.h"
#include "core/Preferences.h"
#include "core/System.h"
#include "core/Text.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "devices/Reader.h"
#include "devices/ReaderFactory.h"
#include "devices/UnreadableSectors.h"
#include "tests/probe/Probe.h"
#include "tests/probe/ProbeSource.h"
#include "tests/support/FailingReader.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace probe {

namespace {

// Answers every read-error question the same way and writes it to stderr.
class AnsweringInterface : public FrTreeInterface {
public:
    explicit AnsweringInterface(int answer) : answer_(answer) {}

    int message(bool question, const char* text, bool, const char*) override {
        std::cerr << (question ? "question: " : "error: ") << escapeLines(text ? text : "") << '\n';
        return question ? answer_ : 0;
    }
    std::unique_ptr<ProgressBoxIC> createProgressBox(const char*) override {
        return std::make_unique<ProgressBoxIC>();
    }

private:
    int answer_;
};

// The progress box: shows every read-error line, asked about or not.
class ErrorLines : public InterfaceCallback {
public:
    void setText(u64 kind, const std::string& text) override {
        if (kind == TEXT_MAIN)
            std::cerr << "read error: " << text << '\n';
    }
};

// Writes each delivery to stdout and records its pattern-filled sectors.
class WritingListener : public Reader::Listener {
public:
    explicit WritingListener(u64 sectorSize)
        : sectorSize_(sectorSize), buffer_(getBlockSize() * sectorSize) {}

    u8* getBuffer() override { return buffer_.data(); }
    void onSectorsRead(u64 firstLba, u64 count) override {
        for (u64 i = 0; i < count; ++i) {
            if (isUnreadablePattern(buffer_.data() + i * sectorSize_, sectorSize_) &&
                firstLba + i <= 0xFFFFFFFFu)
                unreadable_.add(static_cast<u32>(firstLba + i));
        }
        const std::size_t n = static_cast<std::size_t>(count * sectorSize_);
        if (std::fwrite(buffer_.data(), 1, n, stdout) != n)
            throw Failure("cannot write to standard output");
    }
    UnreadableSectors& unreadable() { return unreadable_; }

private:
    u64 sectorSize_;
    std::vector<u8> buffer_;
    UnreadableSectors unreadable_;
};

} // namespace

int cmdSectors(Args& args) {
    std::string mode = "sector", answer = "no";
    const SourceOptions source = takeSourceOptions(args);
    takeOption(args, "--mode", mode);
    takeOption(args, "--answer", answer);
    if (args.size() != 3 || (mode != "sector" && mode != "block"))
        throw UsageError();
    const int answerWith = parseAnswer(answer);
    const u64 first = parseNumber(args[1]);
    const u64 count = parseNumber(args[2]);
    SharedPtr<Driver> driverHolder = openDriver(source, args[0]);
    Driver& driver = *driverHolder;

    Preferences::instance().setReadErrorMode(mode == "block" ? 1 : 0);
    AnsweringInterface ui(answerWith);
    ErrorLines progress;
    WritingListener listener(driver.getSectorSize());
    Reader reader(&driver, &listener, &ui, "");
    reader.setInterfaceCallback(&progress);

    int result = 0;
    try {
        reader.readSectors(first, count);
    } catch (const InterruptedException&) {
        std::cerr << "interrupted\n";
        result = 1;
    }
    std::fflush(stdout);
    listener.unreadable().commit();
    for (const SectorRun& run : listener.unreadable().runs())
        std::cerr << "unreadable: " << run.start << ' ' << run.count << '\n';
    return result;
}

} // namespace probe
