// A log line's or an exception's "Stem(n)" tells support where it came from,
// so each one names a single place in the sources and never moves with an edit.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

// Tags that the documented texts give to one event written from two places.
const char* const ONE_EVENT_TWO_PLACES[] = {"FATMapImpl(105)"};

TEST(LogTagsTest, EveryTagNamesOnePlaceAndNoneIsALineNumber) {
    const std::regex logAt(R"re(logAt\("([A-Za-z_0-9]+)", *([0-9]+)\))re");
    const std::regex thrown(R"re((runtime_error|out_of_range)\("([A-Za-z_0-9]+\([0-9]+\))"\))re");
    std::map<std::string, std::vector<std::string>> places;
    std::vector<std::string> lineNumbers;
    for (const char* folder :
         {"core", "platform", "devices", "tree", "fs", "cbr", "analysis", "gui", "app"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(
                 std::string(HB_SOURCE_DIR) + "/" + folder)) {
            const std::string path = entry.path().string();
            const std::string ext = entry.path().extension().string();
            if (ext != ".cpp" && ext != ".h")
                continue;
            std::ifstream in(path);
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                const std::string code = line.substr(0, line.find("//"));
                const std::string where =
                    path.substr(path.find(folder)) + ":" + std::to_string(number);
                if (code.find("__LINE__") != std::string::npos)
                    lineNumbers.push_back(where);
                for (auto m = std::sregex_iterator(code.begin(), code.end(), logAt);
                     m != std::sregex_iterator(); ++m)
                    places[(*m)[1].str() + "(" + (*m)[2].str() + ")"].push_back(where);
                for (auto m = std::sregex_iterator(code.begin(), code.end(), thrown);
                     m != std::sregex_iterator(); ++m)
                    places[(*m)[2].str()].push_back(where);
            }
        }
    }
    EXPECT_GT(places.size(), 100u) << "the sources were not found under " << HB_SOURCE_DIR;
    EXPECT_TRUE(lineNumbers.empty())
        << "__LINE__ as a tag at " << ::testing::PrintToString(lineNumbers);
    for (const auto& [tag, where] : places) {
        bool allowed = false;
        for (const char* t : ONE_EVENT_TWO_PLACES)
            allowed = allowed || tag == t;
        if (!allowed) {
            EXPECT_EQ(where.size(), 1u) << tag << " at " << ::testing::PrintToString(where);
        }
    }
}

} // namespace
