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
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using testutil::FailingReader;
using testutil::MemoryReader;
using testutil::RecordingProgress;
using testutil::ScriptedInterface;

constexpr int YES = 0;
constexpr int NO = 1;
constexpr int TICKED = 0x10;

struct Delivery {
    u64 lba;
    u64 count;
    bool operator==(const Delivery& o) const { return lba == o.lba && count == o.count; }
};

// Like the scanner's listener: the sectors land one after the other in one
// buffer, and every delivery moves the write position on.
class CollectingListener : public Reader::Listener {
public:
    explicit CollectingListener(u64 sectors) : data_(sectors * 512) {}

    u8* getBuffer() override { return data_.data() + filled_; }
    void onSectorsRead(u64 firstLba, u64 count) override {
        deliveries_.push_back({firstLba, count});
        filled_ += count * 512;
        if (onDelivery)
            onDelivery();
    }

    const std::vector<Delivery>& deliveries() const { return deliveries_; }
    // The i-th sector received.
    const u8* sector(u64 i) const { return data_.data() + i * 512; }
    u64 sectorsReceived() const { return filled_ / 512; }
    std::function<void()> onDelivery;

private:
    std::vector<u8> data_;
    u64 filled_ = 0;
    std::vector<Delivery> deliveries_;
};

// One read as a scan sets it up: the listener, a progress box and the reader.
struct Session {
    Session(Driver& driver, FrTreeInterface* ui, u64 sectors)
        : listener(sectors), reader(&driver, &listener, ui, "") {
        reader.setInterfaceCallback(&box);
    }
    CollectingListener listener;
    RecordingProgress box;
    Reader reader;
};

class ReaderTest : public ::testing::Test {
protected:
    ReaderTest()
        : image_(testutil::numberedSectors(1024)),
          failing_(new FailingReader(SharedPtr<dt::Reader>(new MemoryReader(image_)), {})),
          driver_(SharedPtr<dt::Reader>(failing_), 512) {
        Preferences::instance().resetToDefaults();
    }
    ~ReaderTest() override { Preferences::instance().resetToDefaults(); }

    // The sectors that arrived filled with the pattern, in order of arrival.
    std::vector<u64> patternSectors(const CollectingListener& l) const {
        std::vector<u64> out;
        for (u64 i = 0; i < l.sectorsReceived(); ++i) {
            if (isUnreadablePattern(l.sector(i), 512))
                out.push_back(i);
        }
        return out;
    }
    // Whether received sector i holds the image's sector lba.
    bool holdsSector(const CollectingListener& l, u64 i, u64 lba) const {
        return std::memcmp(l.sector(i), image_.data() + lba * 512, 512) == 0;
    }

    std::string image_;
    FailingReader* failing_; // owned by driver_
    // A read over driver_, answered by ui_ unless another interface is given.
    Session& start(u64 sectors) { return start(sectors, &ui_); }
    Session& start(u64 sectors, FrTreeInterface* ui) {
        session_ = std::make_unique<Session>(driver_, ui, sectors);
        return *session_;
    }

    Driver driver_;
    ScriptedInterface ui_{YES};
    std::unique_ptr<Session> session_;
};

TEST_F(ReaderTest, RangeIsReadInBlocksOfTheListenersSize) {
    auto& [l, box, r] = start(600);
    r.readSectors(0, 600);

    EXPECT_EQ(l.deliveries(), (std::vector<Delivery>{{0, 256}, {256, 256}, {512, 88}}));
    for (u64 i = 0; i < 600; ++i)
        ASSERT_TRUE(holdsSector(l, i, i)) << "sector " << i;
    ASSERT_EQ(box.record()->positions.size(), 3u);
    EXPECT_EQ(box.record()->positions[2].mode, InterfaceCallback::POSITION_SET);
    EXPECT_EQ(box.record()->positions[2].value, 512u);
    EXPECT_EQ(box.record()->polls, 3u);
    EXPECT_TRUE(ui_.asked().empty());
}

TEST_F(ReaderTest, EmptyRangeTouchesNothing) {
    auto& [l, box, r] = start(1);
    r.readSectors(5, 0);
    EXPECT_TRUE(l.deliveries().empty());
    EXPECT_EQ(box.record()->polls, 0u);
    EXPECT_TRUE(box.record()->positions.empty());
    EXPECT_TRUE(failing_->requests().empty());
}

TEST_F(ReaderTest, SectorModeRetriesEachSectorAndFillsOnlyTheBadOne) {
    failing_->addBadSector(10);
    auto& [l, box, r] = start(256);
    r.readSectors(0, 256);

    ASSERT_EQ(l.deliveries().size(), 256u);
    for (u64 i = 0; i < 256; ++i) {
        EXPECT_EQ(l.deliveries()[i], (Delivery{i, 1}));
    }
    EXPECT_EQ(patternSectors(l), std::vector<u64>{10});
    for (u64 i = 0; i < 256; ++i) {
        ASSERT_TRUE(i == 10 || holdsSector(l, i, i)) << "sector " << i;
    }
    ASSERT_EQ(ui_.asked().size(), 1u);
    EXPECT_EQ(ui_.asked()[0].text, "Read Error at LBA 10 (1 sector).\n\n"
                                   "Continuing could cause further damage to your Source.\n\n"
                                   "Do you want to continue?");
    EXPECT_EQ(ui_.asked()[0].checkLabel, "Yes To _All");
    EXPECT_FALSE(ui_.asked()[0].defaultNo);
    EXPECT_EQ(box.record()->lastText(InterfaceCallback::TEXT_MAIN),
              "Read Error at LBA 10 (1 sector).");
    // The failed block, then every sector on its own; each attempt is announced.
    EXPECT_EQ(failing_->requests().size(), 257u);
    EXPECT_EQ(failing_->failedReads(), 2u);
    ASSERT_EQ(box.record()->positions.size(), 257u);
    EXPECT_EQ(box.record()->positions[0].value, 0u);
    EXPECT_EQ(box.record()->positions[11].value, 10u);
}

TEST_F(ReaderTest, SectorModeAsksOncePerBadSector) {
    failing_->addBadSector(100);
    failing_->addBadSector(101);
    auto& [l, box, r] = start(300);
    r.readSectors(0, 300);

    EXPECT_EQ(patternSectors(l), (std::vector<u64>{100, 101}));
    ASSERT_EQ(ui_.asked().size(), 2u);
    EXPECT_EQ(ui_.asked()[0].text.substr(0, 33), "Read Error at LBA 100 (1 sector).");
    EXPECT_EQ(ui_.asked()[1].text.substr(0, 33), "Read Error at LBA 101 (1 sector).");
    // Only the block holding the bad sectors was taken apart.
    EXPECT_EQ(l.deliveries().size(), 256u + 1u);
    EXPECT_EQ(l.deliveries().back(), (Delivery{256, 44}));
}

TEST_F(ReaderTest, BlockModeFillsAndDeliversTheWholeBlock) {
    Preferences::instance().setReadErrorMode(1);
    failing_->addBadSector(10);
    auto& [l, box, r] = start(256);
    r.readSectors(0, 256);

    EXPECT_EQ(l.deliveries(), (std::vector<Delivery>{{0, 256}}));
    // Every sector of the block, good ones included, is recognisable on its own.
    EXPECT_EQ(patternSectors(l).size(), 256u);
    ASSERT_EQ(ui_.asked().size(), 1u);
    EXPECT_EQ(ui_.asked()[0].text.substr(0, 36), "Read Error at LBA 0 (256 sectors).\n\n");
    EXPECT_EQ(failing_->requests().size(), 1u);
}

TEST_F(ReaderTest, ModeIsReadAtEveryFailedBlock) {
    failing_->addBadSector(5);
    failing_->addBadSector(300);
    CollectingListener l(512);
    // The user switches to block mode while the first block is being delivered.
    l.onDelivery = [] { Preferences::instance().setReadErrorMode(1); };
    Reader r(&driver_, &l, &ui_, "");
    r.readSectors(0, 512);

    EXPECT_EQ(patternSectors(l).size(), 1u + 256u);
    EXPECT_EQ(l.deliveries().back(), (Delivery{256, 256}));
    EXPECT_EQ(ui_.asked().size(), 2u);
}

TEST_F(ReaderTest, AdviceMakesFourParagraphs) {
    Preferences::instance().setReadErrorMode(1);
    failing_->addBadSector(2100);
    SharedPtr<dt::Reader> big(new FailingReader(
        SharedPtr<dt::Reader>(new MemoryReader(testutil::numberedSectors(2304))), {2100}));
    Driver driver(big, 512);
    CollectingListener l(256);
    const std::string advice = "We recommend that you clone this drive to another drive before "
                               "attempting recovery of your files.";
    Reader r(&driver, &l, &ui_, advice);
    r.readSectors(2048, 256);
    ASSERT_EQ(ui_.asked().size(), 1u);
    EXPECT_EQ(ui_.asked()[0].text, "Read Error at LBA 2048 (256 sectors).\n\n"
                                   "Continuing could cause further damage to your Source.\n\n" +
                                       advice + "\n\nDo you want to continue?");
}

TEST_F(ReaderTest, YesToAllSilencesLaterQuestions) {
    for (u64 lba : {3u, 7u, 400u})
        failing_->addBadSector(lba);
    ui_.then(YES | TICKED);
    auto& [l, box, r] = start(512);
    r.readSectors(0, 512);

    EXPECT_TRUE(r.isYesToAll());
    EXPECT_EQ(ui_.asked().size(), 1u);
    EXPECT_EQ(patternSectors(l), (std::vector<u64>{3, 7, 400}));
    // Later errors still show on the progress box.
    EXPECT_EQ(box.record()->lastText(InterfaceCallback::TEXT_MAIN),
              "Read Error at LBA 400 (1 sector).");
}

TEST_F(ReaderTest, NoEndsTheReadAndKeepsWhatWasDelivered) {
    failing_->addBadSector(10);
    ui_.then(NO | TICKED);
    auto& [l, box, r] = start(256);
    EXPECT_THROW(r.readSectors(0, 256), InterruptedException);
    EXPECT_FALSE(r.isYesToAll());
    // Sectors 0 to 9 came through before the question; the bad one did not.
    ASSERT_EQ(l.deliveries().size(), 10u);
    EXPECT_EQ(l.deliveries().back(), (Delivery{9, 1}));
    EXPECT_TRUE(patternSectors(l).empty());
}

TEST_F(ReaderTest, NoInBlockModeDeliversNothingOfTheBlock) {
    Preferences::instance().setReadErrorMode(1);
    failing_->addBadSector(300);
    ui_.then(NO);
    auto& [l, box, r] = start(512);
    EXPECT_THROW(r.readSectors(0, 512), InterruptedException);
    EXPECT_EQ(l.deliveries(), (std::vector<Delivery>{{0, 256}}));
}

TEST_F(ReaderTest, CancelInTheProgressBoxStopsBeforeTheNextRead) {
    auto& [l, box, r] = start(512);
    box.cancelAtPoll(2);
    EXPECT_THROW(r.readSectors(0, 512), InterruptedException);
    EXPECT_EQ(l.deliveries(), (std::vector<Delivery>{{0, 256}}));
    EXPECT_EQ(failing_->requests().size(), 1u);
}

TEST_F(ReaderTest, CancelWhileTheErrorLineIsShownAsksNothing) {
    failing_->addBadSector(0);
    auto& [l, box, r] = start(1);
    // Poll 1 before the block, 2 before the sector, 3 after the error line.
    box.cancelAtPoll(3);
    EXPECT_THROW(r.readSectors(0, 1), InterruptedException);
    EXPECT_TRUE(ui_.asked().empty());
    EXPECT_TRUE(l.deliveries().empty());
}

TEST_F(ReaderTest, NobodyToAskMeansNo) {
    failing_->addBadSector(1);
    auto& [l, box, r] = start(4, nullptr);
    EXPECT_THROW(r.readSectors(0, 4), InterruptedException);
    EXPECT_EQ(l.deliveries(), (std::vector<Delivery>{{0, 1}}));
}

TEST_F(ReaderTest, BrokenListenersAreInvariantFaults) {
    auto& [l, box, r] = start(1);
    l.setBlockSize(0);
    EXPECT_THROW(r.readSectors(0, 1), std::runtime_error);

    l.setBlockSize(256);
    EXPECT_THROW(r.readBlock(~0ull - 1, 4), std::runtime_error);
}

TEST_F(ReaderTest, ReadsPastTheEndAreUnreadableSectors) {
    auto& [l, box, r] = start(4);
    r.readSectors(1022, 4);
    EXPECT_EQ(patternSectors(l), (std::vector<u64>{2, 3}));
    EXPECT_EQ(ui_.asked().size(), 2u);
}

} // namespace
