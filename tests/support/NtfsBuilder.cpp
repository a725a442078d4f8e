#include "tests/support/NtfsBuilder.h"

#include "tests/support/FsImages.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace testutil {

namespace {

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 0x0F];
    }
    return s;
}

} // namespace

std::string punchHoles(std::string bytes, const std::vector<Hole>& holes) {
    for (const Hole& h : holes) {
        if (h.offset > bytes.size())
            continue;
        u64 n = std::min<u64>(h.length, bytes.size() - h.offset);
        bytes.replace(h.offset, n, n, '\0');
    }
    return bytes;
}

NtfsBuilder::NtfsBuilder(std::string volumePath)
    : volume_(std::move(volumePath)), scratch_(std::make_unique<TempDir>()) {}

NtfsBuilder::NtfsBuilder(const NtfsImage& image) : NtfsBuilder(image.volumePath()) {}

std::string NtfsBuilder::toolPath() {
    return HB_BINARY_DIR "/hbntfsbuild";
}

NtfsBuilder& NtfsBuilder::add(std::vector<std::string> command) {
    // The script separates arguments by tabs and commands by lines.
    for (const std::string& a : command) {
        if (a.find_first_of("\t\n\r") != std::string::npos)
            throw std::invalid_argument("an argument of hbntfsbuild holds a tab or a line break");
    }
    commands_.push_back(std::move(command));
    return *this;
}

std::string NtfsBuilder::dataFile(const std::string& bytes) {
    std::string path = scratch_->file("data" + std::to_string(++files_));
    writeAll(path, bytes);
    return path;
}

NtfsBuilder& NtfsBuilder::sparse(const std::string& path, const std::string& bytes,
                                 const std::vector<Hole>& holes) {
    std::string list;
    for (const Hole& h : holes)
        list +=
            (list.empty() ? "" : ",") + std::to_string(h.offset) + ":" + std::to_string(h.length);
    return add({"sparse", path, dataFile(bytes), list});
}

NtfsBuilder& NtfsBuilder::corruptData(const std::string& path, u64 offset,
                                      const std::string& bytes) {
    return add({"corrupt-data", path, std::to_string(offset), hex(bytes)});
}

NtfsBuilder& NtfsBuilder::corruptAttribute(const std::string& path, u32 type, u64 offset,
                                           const std::string& bytes) {
    return add({"corrupt-attr", path, std::to_string(type), std::to_string(offset), hex(bytes)});
}

NtfsBuilder& NtfsBuilder::corruptIndex(const std::string& folder, const std::string& name,
                                       u64 offset, const std::string& bytes) {
    return add({"corrupt-index", folder, name, std::to_string(offset), hex(bytes)});
}

::testing::AssertionResult NtfsBuilder::run() {
    std::ostringstream script;
    for (const auto& command : commands_) {
        for (std::size_t i = 0; i < command.size(); ++i)
            script << (i ? "\t" : "") << command[i];
        script << '\n';
    }
    commands_.clear();
    std::string scriptPath = scratch_->file("script");
    writeAll(scriptPath, script.str());
    std::string command = "LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=" + std::to_string(IMAGE_EPOCH) + " " +
                          shellQuote(toolPath()) + " " + shellQuote(volume_) + " -f " +
                          shellQuote(scriptPath);
    std::string out;
    std::string err;
    int status = testutil::run(command, &out, &err);
    if (status == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "hbntfsbuild exited with " << status << ":\n"
                                         << err << out << "script:\n"
                                         << script.str();
}

} // namespace testutil
