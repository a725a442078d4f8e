#include "devices/Reader.h"

#include "core/Preferences.h"
#include "devices/Driver.h"
#include "devices/UnreadableSectors.h"
#include "tests/support/FailingReader.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

using Deliveries = std::vector<std::pair<u64, u64>>;
constexpr int YES = 0, NO = 1, TICKED = 0x10;

// Like the scanner's listener: sectors land one after the other in one buffer.
struct Listener : Reader::Listener {
    explicit Listener(u64 sectors) : data(sectors * 512) {}
    u8* getBuffer() override { return data.data() + filled * 512; }
    void onSectorsRead(u64 firstLba, u64 count) override {
        deliveries.emplace_back(firstLba, count);
        filled += count;
    }
    // Which received sectors hold the pattern; the others must equal `source`.
    std::vector<u64> patternSectors(const void* source) const {
        std::vector<u64> out;
        for (u64 i = 0; i < filled; ++i)
            if (isUnreadablePattern(data.data() + i * 512, 512))
                out.push_back(i);
            else
                EXPECT_EQ(std::memcmp(data.data() + i * 512,
                                      static_cast<const u8*>(source) + i * 512, 512),
                          0)
                    << i;
        return out;
    }
    std::vector<u8> data;
    u64 filled = 0;
    Deliveries deliveries;
};

class ReaderTest : public ::testing::Test {
protected:
    ReaderTest() { Preferences::instance().resetToDefaults(); }
    ~ReaderTest() override { Preferences::instance().resetToDefaults(); }

    // Reads [first, first + count) as a scan does; false when it was stopped.
    bool scan(u64 first, u64 count, FrTreeInterface* ui, const std::string& advice = "") {
        listener_ = std::make_unique<Listener>(count);
        Reader reader(driver_.get(), listener_.get(), ui, advice);
        reader.setInterfaceCallback(&box_);
        try {
            reader.readSectors(first, count);
        } catch (const InterruptedException&) {
            return false;
        }
        yesToAll_ = reader.isYesToAll();
        return true;
    }
    std::vector<u64> patternSectors() const { return listener_->patternSectors(image_.data()); }

    std::string image_ = testutil::numberedSectors(1024);
    testutil::FailingReader* failing_ = new testutil::FailingReader(
        SharedPtr<dt::Reader>(new testutil::MemoryReader(image_)), {}); // owned by driver_
    std::unique_ptr<Driver> driver_ =
        std::make_unique<Driver>(SharedPtr<dt::Reader>(failing_), 512);
    testutil::ScriptedInterface ui_{YES};
    testutil::RecordingProgress box_;
    std::unique_ptr<Listener> listener_;
    bool yesToAll_ = false;
};

// Sector mode, the default: the good sectors of a bad block keep their real
// contents, and only the sectors that fail on their own are asked about.
TEST_F(ReaderTest, SectorModeFillsOnlyTheSectorsThatFailAlone) {
    failing_->addBadSector(100);
    failing_->addBadSector(101);
    ASSERT_TRUE(scan(0, 300, &ui_));
    EXPECT_EQ(patternSectors(), (std::vector<u64>{100, 101}));
    ASSERT_EQ(ui_.asked().size(), 2u);
    EXPECT_EQ(ui_.asked()[0].text, "Read Error at LBA 100 (1 sector).\n\n"
                                   "Continuing could cause further damage to your Source.\n\n"
                                   "Do you want to continue?");
    EXPECT_EQ(ui_.asked()[0].checkLabel, "Yes To _All");
    EXPECT_EQ(ui_.asked()[1].text.substr(0, 33), "Read Error at LBA 101 (1 sector).");
    // Blocks of the listener's size; only the one holding them was taken apart.
    EXPECT_EQ(listener_->deliveries.size(), 256u + 1u);
    EXPECT_EQ(listener_->deliveries.back(), (std::pair<u64, u64>{256, 44}));
}

TEST_F(ReaderTest, BlockModeFillsEverySectorOfTheBlockAndGivesTheAdvice) {
    Preferences::instance().setReadErrorMode(1);
    failing_->addBadSector(300);
    ASSERT_TRUE(scan(256, 256, &ui_, "Clone the drive first."));
    EXPECT_EQ(listener_->deliveries, (Deliveries{{256, 256}}));
    EXPECT_EQ(patternSectors().size(), 256u); // each its own copy, from its first byte
    ASSERT_EQ(ui_.asked().size(), 1u);
    EXPECT_EQ(ui_.asked()[0].text, "Read Error at LBA 256 (256 sectors).\n\n"
                                   "Continuing could cause further damage to your Source.\n\n"
                                   "Clone the drive first.\n\nDo you want to continue?");
}

TEST_F(ReaderTest, YesToAllAsksOnceButShowsEveryError) {
    for (u64 lba : {3u, 7u, 400u})
        failing_->addBadSector(lba);
    ui_.then(YES | TICKED);
    ASSERT_TRUE(scan(0, 512, &ui_));
    EXPECT_TRUE(yesToAll_);
    EXPECT_EQ(ui_.asked().size(), 1u);
    EXPECT_EQ(patternSectors(), (std::vector<u64>{3, 7, 400}));
    EXPECT_EQ(box_.record()->lastText(InterfaceCallback::TEXT_MAIN),
              "Read Error at LBA 400 (1 sector).");
}

TEST_F(ReaderTest, NoOrNobodyToAskEndsTheReadWithWhatCameBefore) {
    failing_->addBadSector(10);
    ui_.then(NO | TICKED);
    EXPECT_FALSE(scan(0, 256, &ui_));
    EXPECT_FALSE(yesToAll_);
    EXPECT_EQ(listener_->deliveries.size(), 10u); // sectors 0 to 9, not the bad one
    EXPECT_TRUE(patternSectors().empty());
    EXPECT_FALSE(scan(0, 256, nullptr));
    EXPECT_EQ(listener_->deliveries.size(), 10u);
    Preferences::instance().setReadErrorMode(1);
    ui_.then(NO);
    EXPECT_FALSE(scan(0, 512, &ui_));
    EXPECT_TRUE(listener_->deliveries.empty()); // nothing of the failed block
}

TEST_F(ReaderTest, ACancelStopsBeforeTheNextReadAndAsksNothing) {
    box_.cancelAtPoll(2);
    EXPECT_FALSE(scan(0, 512, &ui_));
    EXPECT_EQ(listener_->deliveries, (Deliveries{{0, 256}}));
    EXPECT_EQ(failing_->requests().size(), 1u);
    // Polls: 3 before the block, 4 before the sector, 5 after the error line.
    failing_->addBadSector(600);
    box_.cancelAtPoll(5);
    EXPECT_FALSE(scan(600, 1, &ui_));
    EXPECT_TRUE(ui_.asked().empty());
}

TEST_F(ReaderTest, SectorsPastTheEndAreUnreadableAndBrokenListenersThrow) {
    ASSERT_TRUE(scan(1022, 4, &ui_));
    EXPECT_EQ(listener_->patternSectors(image_.data() + 1022 * 512), (std::vector<u64>{2, 3}));
    Listener listener(1);
    Reader reader(driver_.get(), &listener, &ui_, "");
    listener.setBlockSize(0); // would never get through the range
    EXPECT_THROW(reader.readSectors(0, 1), std::runtime_error);
    listener.setBlockSize(256);
    EXPECT_THROW(reader.readBlock(~0ull - 1, 4), std::runtime_error);
}

// ---- Reading ahead ----

// Takes each block where it was read, as the scanner's listener does, into the
// buffer that the listener above fills.
struct InPlaceListener : Listener {
    static constexpr u64 ROOM = 3 * 512;
    using Listener::Listener;
    u64 getRoomBefore() const override { return ROOM; }
    void onSectorsReadAt(u64 firstLba, u64 count, u8* sectors) override {
        std::memset(sectors - ROOM, 0xEE, ROOM);
        std::memcpy(getBuffer(), sectors, count * 512);
        onSectorsRead(firstLba, count);
    }
};

struct ReadScenario {
    const char* name;
    std::vector<u64> bad;
    int mode;
    std::vector<int> answers;
    u64 cancelAtPoll;
    u64 first;
    u64 count;
};

// All that a reading shows of itself (whether it ended, what it delivered,
// asked, showed on the bar and logged; the sectors it delivered are checked
// against the source), and the requests it made of the source.
std::pair<std::string, std::string> readWith(const ReadScenario& s, u32 readAhead) {
    Preferences::instance().setReadErrorMode(s.mode);
    const std::string image = testutil::numberedSectors(2048);
    auto* failing = new testutil::FailingReader(
        SharedPtr<dt::Reader>(new testutil::MemoryReader(image)), s.bad);
    Driver driver(SharedPtr<dt::Reader>(failing), 512);
    InPlaceListener listener(s.count);
    testutil::ScriptedInterface ui(YES);
    for (int a : s.answers)
        ui.then(a);
    testutil::RecordingProgress box;
    box.cancelAtPoll(s.cancelAtPoll);
    Reader reader(&driver, &listener, &ui, "Clone the drive first.");
    reader.setInterfaceCallback(&box);
    reader.setReadAhead(readAhead);
    testutil::LogCapture log;
    std::ostringstream shown;
    try {
        reader.readSectors(s.first, s.count);
        shown << "finished\n";
    } catch (const InterruptedException&) {
        shown << "stopped\n";
    }
    for (const auto& d : listener.deliveries)
        shown << d.first << '+' << d.second << ' ';
    for (u64 i : listener.patternSectors(image.data() + s.first * 512))
        shown << "pattern " << i << ' ';
    for (const testutil::AskedBox& a : ui.asked())
        shown << '\n' << a.text;
    for (const auto& p : box.record()->positions)
        shown << '\n' << p.mode << ':' << p.value;
    for (const auto& t : box.record()->texts)
        shown << '\n' << t.text;
    shown << "\npolls " << box.record()->polls << '\n' << log.text();
    std::string requests;
    for (const auto& r : failing->requests())
        requests += std::to_string(r.offset) + '+' + std::to_string(r.size) + (r.ok ? " " : "! ");
    return {shown.str(), requests};
}

// Read ahead or not, a reading asks the source the same requests in the same
// order, moves the bar and polls alike, asks the same questions and delivers
// the same sectors: only the reads of healthy blocks come earlier, so that a
// cancel may find a few more read than delivered.
TEST_F(ReaderTest, ReadingAheadChangesOnlyWhenHealthyBlocksAreRead) {
    const ReadScenario scenarios[] = {
        {"healthy", {}, 0, {}, 0, 0, 1000},
        {"sector mode", {100, 101, 700}, 0, {}, 0, 0, 1000},
        {"block mode", {300}, 1, {}, 0, 0, 1000},
        {"yes to all", {3, 7, 400, 900}, 0, {YES | TICKED}, 0, 0, 1000},
        {"no", {10, 600}, 0, {YES, NO}, 0, 0, 1000},
        {"block mode no", {10, 600}, 1, {YES, NO}, 0, 0, 1000},
        {"cancel", {}, 0, {}, 3, 0, 1000},
        {"cancel at the error line", {300}, 0, {}, 48, 0, 1000},
        {"bad last sector", {1007}, 0, {}, 0, 5, 1003},
    };
    for (const ReadScenario& s : scenarios) {
        const auto plain = readWith(s, 0);
        const auto ahead = readWith(s, 4);
        EXPECT_EQ(ahead.first, plain.first) << s.name;
        // After a cancel, the reads ahead come on top.
        EXPECT_EQ(s.cancelAtPoll == 0 ? ahead.second : ahead.second.substr(0, plain.second.size()),
                  plain.second)
            << s.name;
    }
}

} // namespace
