#include "cbr/FileModuleText.h"

#include "cbr/ByteSource.h"
#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;

// Text bytes that never contain a tag, for padding documents across blocks.
std::string filler(std::size_t n) {
    std::string s;
    while (s.size() < n)
        s += "lorem ipsum dolor sit amet\n";
    return s.substr(0, n);
}

class FileModuleTextTest : public ::testing::Test {
protected:
    cbr::FileModuleText module;
};

TEST_F(FileModuleTextTest, HtmlInCapitalsEndsAfterItsClosingTagAndLineEnd) {
    const std::string page = "<HTML><BODY>Hello</BODY></HTML>\r\n";
    ASSERT_TRUE(moduletest::check(module, page));
    const auto a = analyze(module, page + "\r\nmore text after it");
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), page.size());
    EXPECT_EQ(a.type(), "html");
    // At most two bytes after the tag, and only line ends and blanks.
    EXPECT_EQ(analyze(module, "<html></html> \n\n").size(), 15u);
    EXPECT_EQ(analyze(module, "<html></html>\tx").size(), 13u);
    EXPECT_EQ(analyze(module, "<html></html>").size(), 13u);
}

TEST_F(FileModuleTextTest, DoctypeFirstStillEndsAtTheClosingHtmlTag) {
    const std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head><title>t</title></head>\n"
                             "<body>" +
                             filler(2000) + "</body>\n</html>\n";
    ASSERT_TRUE(moduletest::check(module, page));
    const auto a = analyze(module, page + std::string(600, 'z'));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), page.size());
}

TEST_F(FileModuleTextTest, ClosingTagSplitBetweenBlocksIsFound) {
    for (std::size_t at = 505; at < 515; ++at) {
        const std::string page = "<html>" + filler(at - 6) + "</html>";
        const auto a = analyze(module, page + "\x01");
        ASSERT_TRUE(a.ok) << at;
        EXPECT_EQ(a.size(), page.size()) << at;
    }
}

TEST_F(FileModuleTextTest, XmlEndsAfterTheClosingTagOfItsRoot) {
    const std::string svg = "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\">"
                            "<g><text>x</text></g></svg>\n";
    ASSERT_TRUE(moduletest::check(module, svg));
    auto a = analyze(module, svg + "</svg>");
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), svg.size());
    EXPECT_EQ(a.type(), "xml");

    const std::string commented =
        "<?XML version=\"1.0\"?><!-- a comment --><doc:root>" + filler(1500) + "</DOC:ROOT>";
    a = analyze(module, commented + std::string(2, '\0'));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), commented.size());

    EXPECT_TRUE(analyze(module, "<?xml?><a></a>").ok);
    EXPECT_FALSE(analyze(module, "<?xml?><a></a").ok);
    EXPECT_FALSE(analyze(module, "<?xml version=\"1.0\"?><a/>").ok);
}

TEST_F(FileModuleTextTest, NonTextOrMissingClosingTagIsRejected) {
    EXPECT_FALSE(analyze(module, "<html><body>x</body>" + std::string(1, '\0') + "</html>").ok);
    EXPECT_FALSE(analyze(module, "<html>" + filler(3000)).ok);
    EXPECT_FALSE(analyze(module, "<html>" + filler(3000) + "\x7F</html>").ok);
    EXPECT_FALSE(analyze(module, std::string(1, '\0') + "<html></html>").ok);

    EXPECT_FALSE(moduletest::check(module, "<htm"));
    EXPECT_FALSE(moduletest::check(module, " <html>"));
    EXPECT_TRUE(moduletest::check(module, "<Title>"));
    EXPECT_TRUE(moduletest::check(module, "<!DocType HTML>"));
    EXPECT_FALSE(moduletest::check(module, "<!doctype svg>"));
}

TEST(FindRootElementTest, SkipsDeclarationsAndStopsAtBadNames) {
    auto find = [](const std::string& text, std::string& name, u32& position) {
        return cbr::findRootElement(reinterpret_cast<const u8*>(text.data()),
                                    static_cast<u32>(text.size()), name, position);
    };
    std::string name;
    u32 position = 0;
    ASSERT_TRUE(find(" version=\"1.0\"?>\n<!DOCTYPE x><a:b-c+d attr=\"1\">", name, position));
    EXPECT_EQ(name, "a:b-c+d");
    EXPECT_EQ(position, 37u);
    ASSERT_TRUE(find("<>", name, position));
    EXPECT_EQ(name, "");
    EXPECT_FALSE(find("<a/>", name, position));
    EXPECT_FALSE(find("<?pi?><a>", name, position));
    EXPECT_FALSE(find("<abc", name, position));
    EXPECT_FALSE(find("no tag", name, position));
    EXPECT_FALSE(find("<!", name, position));
}

TEST(TextBytesTest, TableAndBlocks) {
    EXPECT_TRUE(cbr::isTextByte('\t'));
    EXPECT_TRUE(cbr::isTextByte('\n'));
    EXPECT_TRUE(cbr::isTextByte('\r'));
    EXPECT_TRUE(cbr::isTextByte(0x80));
    EXPECT_TRUE(cbr::isTextByte(0xFF));
    EXPECT_FALSE(cbr::isTextByte(0x00));
    EXPECT_FALSE(cbr::isTextByte(0x0B));
    EXPECT_FALSE(cbr::isTextByte(0x1F));
    EXPECT_FALSE(cbr::isTextByte(0x7F));

    testutil::MemoryReader reader("abc\x01"
                                  "def");
    cbr::ByteSource src(reader);
    u8 buffer[16];
    u32 count = 0;
    ASSERT_TRUE(cbr::readTextBlock(src, 0, buffer, 16, count));
    EXPECT_EQ(count, 3u);
    ASSERT_TRUE(cbr::readTextBlock(src, 4, buffer, 16, count));
    EXPECT_EQ(count, 3u);
    EXPECT_FALSE(cbr::readTextBlock(src, 3, buffer, 16, count));
    EXPECT_FALSE(cbr::readTextBlock(src, 7, buffer, 16, count));
}

} // namespace
