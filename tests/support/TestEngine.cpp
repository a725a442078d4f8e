#include "tests/support/TestEngine.h"

#include "core/Array.h"
#include "core/Log.h"
#include "tree/Recoverer.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace testutil {

using tree::Folder;
using tree::Node;

namespace {

[[noreturn]] void fail(u64 line, const std::string& what) {
    throw std::runtime_error("TestEngine: line " + std::to_string(line) + ": " + what);
}

u64 parseNumber(u64 line, const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        fail(line, "not a number: " + text);
    return std::stoull(text);
}

std::string unescape(u64 line, const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        u8 byte = 0;
        if (text[i] != '\\') {
            out += text[i];
        } else if (text.compare(i, 2, "\\s") == 0) {
            out += ' ';
            i += 1;
        } else if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() &&
                   hexByteValue(byte, &text[i + 2])) {
            out += static_cast<char>(byte);
            i += 3;
        } else {
            fail(line, "bad escape in " + text);
        }
    }
    return out;
}

TestEntry parseEntry(u64 line, const std::vector<std::string>& words, std::size_t from) {
    static const struct {
        const char* word;
        bool TestEntry::*flag;
    } FLAGS[] = {
        {"norecord", &TestEntry::noRecord},
        {"dir", &TestEntry::directory},
        {"deleted", &TestEntry::deleted},
        {"system", &TestEntry::system},
        {"unreadable", &TestEntry::unreadable},
        {"badfat", &TestEntry::badFat},
        {"prefer", &TestEntry::prefer},
        {"noequiv", &TestEntry::noEquivalent},
        {"lost", &TestEntry::lost},
    };
    TestEntry e;
    bool sizeGiven = false;
    for (std::size_t i = from; i < words.size(); ++i) {
        const std::string& w = words[i];
        const std::size_t eq = w.find('=');
        const std::string key = w.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : w.substr(eq + 1);
        const auto flag = std::find_if(std::begin(FLAGS), std::end(FLAGS),
                                       [&](const auto& f) { return w == f.word; });
        if (key == "name") {
            e.name = unescape(line, value);
        } else if (key == "in") {
            e.in.push_back(parseNumber(line, value));
        } else if (key == "parent") {
            e.parent = parseNumber(line, value);
        } else if (key == "size") {
            e.size = parseNumber(line, value);
            sizeGiven = true;
        } else if (key == "time") {
            e.time = static_cast<u32>(parseNumber(line, value));
        } else if (key == "lba") {
            e.lba = parseNumber(line, value);
        } else if (key == "text") {
            e.text = unescape(line, value);
        } else if (const std::size_t plus = value.find('+');
                   key == "bad" && plus != std::string::npos) {
            e.bad.push_back(TestByteRange{parseNumber(line, value.substr(0, plus)),
                                          parseNumber(line, value.substr(plus + 1))});
        } else if (flag != std::end(FLAGS)) {
            e.*(flag->flag) = true;
        } else {
            fail(line, "unknown attribute " + w);
        }
    }
    if (!sizeGiven)
        e.size = e.text.size();
    return e;
}

} // namespace

TestDescription TestDescription::parse(const std::string& text) {
    TestDescription d;
    std::istringstream in(text);
    std::string raw;
    for (u64 line = 1; std::getline(in, raw); ++line) {
        std::istringstream words(raw.substr(0, raw.find('#')));
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty())
            continue;
        const std::string& keyword = w[0];
        if (keyword == "map" && w.size() == 2 && w[1] == "fat") {
            d.kind = tree::MAP_FAT;
            d.searchAll = true;
        } else if (keyword == "root" && w.size() == 2) {
            d.root = parseNumber(line, w[1]);
        } else if (keyword == "option" && w.size() == 2 &&
                   (w[1] == "searchall" || w[1] == "nosort")) {
            (w[1] == "searchall" ? d.searchAll : d.sortNames) = w[1] == "searchall";
        } else if ((keyword == "dir" || keyword == "file") && w.size() >= 2) {
            TestEntry r = parseEntry(line, w, 2);
            r.address = parseNumber(line, w[1]);
            r.directory = keyword == "dir";
            if (r.parent == Node::NONE)
                r.parent = r.in.empty() ? d.root : r.in.front();
            for (u64 folder : r.in) {
                d.listing.push_back(r);
                d.listing.back().folder = folder;
                d.listing.back().index = d.listing.size() - 1;
            }
            if (!d.records.emplace(r.address, r).second)
                fail(line, "address " + w[1] + " is described twice");
        } else if (keyword == "entry" && w.size() >= 3) {
            TestEntry e = parseEntry(line, w, 3);
            e.folder = parseNumber(line, w[1]);
            e.address = parseNumber(line, w[2]);
            e.index = d.listing.size();
            d.listing.push_back(e);
        } else {
            fail(line, "cannot read: " + raw);
        }
    }
    return d;
}

TestEngine::TestEngine(const TestDescription& description)
    : tree::MapImpl(description.root, description.searchAll, description.sortNames),
      description_(description) {
    for (std::size_t i = 0; i < description_.listing.size(); ++i)
        listingOf_[description_.listing[i].folder].push_back(i);
    // The engine keeps its data in the description: its source has no sectors.
    struct NoSectors : dt::Reader {
        bool read(i64, u8*, i64 size) override { return size == 0; }
    };
    drive_ = std::make_unique<Drive>(
        SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(new NoSectors), 512)), nullptr);

    // The root is read at once, as every engine reads it, and hangs from "ROOT".
    Node own;
    Folder root = readFolder(description_.root, own);
    root.setParent(tree::TOP_FOLDER);
    visited_.insert(description_.root);
    queueFolder(description_.root, root);
}

TestEngine::~TestEngine() = default;

std::unique_ptr<TestEngine> TestEngine::build(const std::string& description) {
    auto engine = std::make_unique<TestEngine>(TestDescription::parse(description));
    engine->finishTree();
    engine->analyzeFoundFiles();
    engine->finishTree();
    return engine;
}

const TestEntry* TestEngine::record(u64 address) const {
    auto it = description_.records.find(address);
    return it == description_.records.end() ? nullptr : &it->second;
}

const TestEntry* TestEngine::listingEntry(u64 index) const {
    return index < description_.listing.size() ? &description_.listing[index] : nullptr;
}

Folder TestEngine::readFolder(u64 address, Node& out) {
    const TestEntry* r = record(address);
    const bool isRoot = address == description_.root;
    const bool readable = isRoot || (r && !r->noRecord && r->directory);
    out = Node(r ? r->name : std::string(), address, Node::NONE, r ? r->size : 0,
               r ? r->time : 0xFFFFFFFFu);
    out.setFlag(Node::DIRECTORY, true);
    out.setLink(tree::FROM);
    if (r) {
        out.setFlag(Node::DELETED, r->deleted);
        out.setFlag(Node::SYSTEM, r->system);
    }
    if (!readable) {
        out.setFlag(Node::INVALID_DIRECTORY, true);
        return Folder(tree::ATTACHED, description_.root);
    }
    Folder folder(tree::ATTACHED, isRoot ? tree::TOP_FOLDER : r->parent);
    const auto listed = listingOf_.find(address);
    for (std::size_t i : listed == listingOf_.end() ? std::vector<std::size_t>() : listed->second) {
        const TestEntry& e = description_.listing[i];
        Node n(e.name, e.address, e.index, e.size, e.time);
        n.setFlag(Node::DIRECTORY, e.directory);
        n.setFlag(Node::DELETED, e.deleted);
        n.setFlag(Node::SYSTEM, e.system);
        folder.addNode(n);
    }
    return folder;
}

Folder* TestEngine::loadFolder(u64 address, Node& out) {
    ++loadFolderCalls_;
    visited_.insert(address);
    Folder folder = readFolder(address, out);
    if (Folder* stored = tryQueueFolder(address, folder))
        return stored;
    return findFolder(address);
}

bool TestEngine::loadFoundEntry(u64 address, Node& out) {
    if (description_.kind == tree::MAP_FAT)
        return false;
    const TestEntry* r = record(address);
    // Each record is read once, as the NTFS map does, so that an entry listed in
    // two folders is not placed twice.
    if (!r || r->noRecord || !visited_.insert(address).second)
        return false;
    out = Node(r->name, r->parent, Node::NONE, r->size, r->time);
    out.setFlag(Node::DIRECTORY, r->directory);
    out.setFlag(Node::DELETED, r->deleted);
    out.setFlag(Node::SYSTEM, r->system);
    out.setLink(tree::FROM);
    return true;
}

void TestEngine::checkStatuses(Folder& folder) {
    ++checkStatusesCalls_;
    for (Node& n : folder.getNodes()) {
        if (n.hasFlag(Node::DIRECTORY))
            continue;
        const TestEntry* r = record(n.getAddress());
        const TestEntry* e = n.getLink() == tree::FROM ? nullptr : listingEntry(n.getIndex());
        if (description_.kind == tree::MAP_FAT && ((e && e->badFat) || (r && r->badFat)))
            n.setStatus(tree::BAD_IN_FAT);
        if (r && !r->directory && r->unreadable)
            n.setFlag(Node::HAS_UNREADABLE, true);
    }
    folder.setState(tree::STATUSES_CHECKED);
}

bool TestEngine::isEquivalent(const Node& listed, const Node& added) {
    // A folder that could not be read confirms nothing about the entry naming it.
    if (added.hasFlag(Node::INVALID_DIRECTORY))
        return false;
    const TestEntry* e = listingEntry(listed.getIndex());
    return !(e && e->noEquivalent);
}

bool TestEngine::isPreferred(const Node& candidate, const Node& best) {
    const TestEntry* c = listingEntry(candidate.getIndex());
    const TestEntry* b = listingEntry(best.getIndex());
    return c && c->prefer && !(b && b->prefer);
}

void TestEngine::ostreamInfo(std::ostream& out, const tree::MapPosition&, Folder&, Node& node) {
    out << "Address:\t" << node.getAddress() << '\n';
}

void TestEngine::ostreamPartitionInfo(std::ostream& out) {
    out << "Test engine, root " << description_.root << '\n';
}

u64 TestEngine::getNodeLBA(u64 address) {
    const TestEntry* r = record(address);
    return r ? r->lba : Node::NONE;
}

void TestEngine::analyzeFoundFiles() {
    for (const auto& entry : description_.records) {
        const TestEntry& r = entry.second;
        if (r.noRecord || visited_.count(r.address))
            continue;
        if (r.directory) {
            if (findFolder(r.address))
                continue;
            Node own;
            Folder* folder = loadFolder(r.address, own);
            addFoundNode(folder, own);
            reportFolderPath(r.address);
        } else {
            Node found;
            if (!loadFoundEntry(r.address, found))
                continue;
            const u64 parent = found.getAddress();
            found.setAddress(r.address);
            insertNode(parent, found);
        }
    }
    checkIntegrity();
}

bool TestEngine::readRange(const TestEntry& r, u64 offset, u8* out, u64 n) const {
    for (u64 i = 0; i < n; ++i)
        out[i] = r.text.empty() ? defaultByte(r.address, offset + i)
                                : static_cast<u8>(r.text[(offset + i) % r.text.size()]);
    bool ok = true;
    for (const TestByteRange& b : r.bad) {
        const u64 s = std::max(b.offset, offset);
        const u64 e = std::min(b.offset + b.length, offset + n);
        for (u64 i = s; i < e; ++i)
            out[i - offset] =
                static_cast<u8>(UNREADABLE_TEXT[(i - b.offset) % UNREADABLE_TEXT_SIZE]);
        if (s < e)
            ok = false;
    }
    return ok;
}

std::string TestEngine::expectedData(u64 address) const {
    const TestEntry* r = record(address);
    if (!r)
        return std::string();
    std::string out(r->size, '\0');
    readRange(*r, 0, reinterpret_cast<u8*>(&out[0]), r->size);
    return out;
}

TestEntry TestEngine::dataOf(const Node& node) const {
    TestEntry r;
    if (const TestEntry* known = record(node.getAddress()))
        r = *known;
    else
        r.address = node.getAddress();
    // The size of the entry as the tree shows it; the bytes are the record's.
    r.size = node.getSize() == Node::NONE ? 0 : node.getSize();
    return r;
}

bool TestEngine::recoverNode(tree::Recoverer& recoverer, const std::vector<std::string>& path,
                             Node& node) {
    const TestEntry r = dataOf(node);
    if (r.lost)
        return false;
    recoverer.beginFile(tree::FileEntry(node.getName(), r.size, node.getTime()), path);
    bool ok = true;
    std::vector<u8> chunk;
    for (u64 offset = 0; offset < r.size; offset += chunk.size()) {
        drive_->poll();
        chunk.resize(std::min<u64>(r.size - offset, CHUNK_SIZE));
        ok = readRange(r, offset, chunk.data(), chunk.size()) && ok;
        recoverer.write(chunk.data(), static_cast<u32>(chunk.size()));
    }
    recoverer.endFile();
    if (!ok)
        logAt("TestEngine", 10) << ": unreadable data in " << node.getName() << '\n';
    return ok;
}

int TestEngine::readNodeData(Node& node, u8* buffer, u32 size, u64 offset) {
    const TestEntry r = dataOf(node);
    if (offset >= r.size)
        return 0;
    const u64 n = std::min<u64>({size, r.size - offset, 0x7FFFFFFFu});
    if (!readRange(r, offset, buffer, n))
        return -1;
    return static_cast<int>(n);
}

} // namespace testutil
