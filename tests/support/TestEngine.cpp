#include "tests/support/TestEngine.h"

#include "core/Array.h"
#include "core/Log.h"
#include "tree/Recoverer.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testutil {

using tree::Folder;
using tree::Node;

namespace {

// A source of zeros of a given size: the engine keeps its data elsewhere, and a
// described source of a million sectors should not cost half a gigabyte.
class ZeroReader : public dt::Reader {
public:
    explicit ZeroReader(u64 size) { setSize(static_cast<i64>(size)); }
    bool read(i64 offset, u8* buffer, i64 size) override {
        if (!dt::rangeInside(offset, size, getSize()))
            return false;
        std::memset(buffer, 0, static_cast<std::size_t>(size));
        return true;
    }
};

[[noreturn]] void fail(u64 line, const std::string& what) {
    throw std::runtime_error("TestEngine: line " + std::to_string(line) + ": " + what);
}

u64 parseNumber(u64 line, const std::string& text) {
    if (text == "-1")
        return tree::NO_FOLDER;
    if (text == "-2")
        return tree::TOP_FOLDER;
    if (text == "-3")
        return tree::FOUND_FOLDER;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                              std::string::npos)
        fail(line, "not a number: " + text);
    try {
        return std::stoull(digits, nullptr, hex ? 16 : 10);
    } catch (const std::exception&) {
        fail(line, "number out of range: " + text);
    }
}

std::string unescape(u64 line, const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size())
            fail(line, "lone backslash in " + text);
        const char c = text[++i];
        if (c == '\\') {
            out += '\\';
        } else if (c == 's') {
            out += ' ';
        } else if (u8 byte = 0;
                   c == 'x' && i + 2 < text.size() && hexByteValue(byte, &text[i + 1])) {
            out += static_cast<char>(byte);
            i += 2;
        } else {
            fail(line, "bad escape in " + text);
        }
    }
    return out;
}

bool isReserved(u64 address) {
    return address >= tree::FOUND_FOLDER;
}

// The attributes shared by dir, file and entry lines.
struct Attributes {
    std::string name;
    std::vector<u64> in;
    u64 parent = 0;
    bool parentGiven = false;
    bool noRecord = false;
    bool directory = false;
    u64 size = 0;
    bool sizeGiven = false;
    u32 time = 0xFFFFFFFFu;
    u64 lba = Node::NONE;
    bool deleted = false, system = false, unreadable = false, badFat = false;
    bool prefer = false, noEquivalent = false;
    std::string text;
    bool textGiven = false;
    std::vector<TestByteRange> bad;
};

// The attributes written as a bare word.
bool Attributes::*flagOf(const std::string& word) {
    static const struct {
        const char* word;
        bool Attributes::*flag;
    } FLAGS[] = {
        {"norecord", &Attributes::noRecord},     {"dir", &Attributes::directory},
        {"deleted", &Attributes::deleted},       {"system", &Attributes::system},
        {"unreadable", &Attributes::unreadable}, {"badfat", &Attributes::badFat},
        {"prefer", &Attributes::prefer},         {"noequiv", &Attributes::noEquivalent},
    };
    for (const auto& f : FLAGS) {
        if (word == f.word)
            return f.flag;
    }
    return nullptr;
}

Attributes parseAttributes(u64 line, const std::vector<std::string>& words, std::size_t from) {
    Attributes a;
    for (std::size_t i = from; i < words.size(); ++i) {
        const std::string& w = words[i];
        const std::size_t eq = w.find('=');
        const std::string key = eq == std::string::npos ? w : w.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : w.substr(eq + 1);
        if (key == "name") {
            a.name = unescape(line, value);
        } else if (key == "in") {
            const u64 f = parseNumber(line, value);
            if (isReserved(f))
                fail(line, "a listing cannot be in a reserved folder");
            a.in.push_back(f);
        } else if (key == "parent") {
            a.parent = parseNumber(line, value);
            a.parentGiven = true;
        } else if (key == "size") {
            a.size = parseNumber(line, value);
            a.sizeGiven = true;
        } else if (key == "time") {
            const u64 t = parseNumber(line, value);
            if (t > 0xFFFFFFFFu)
                fail(line, "time beyond 32 bits");
            a.time = static_cast<u32>(t);
        } else if (key == "lba") {
            a.lba = parseNumber(line, value);
        } else if (key == "text") {
            a.text = unescape(line, value);
            a.textGiven = true;
        } else if (key == "bad") {
            const std::size_t plus = value.find('+');
            if (plus == std::string::npos)
                fail(line, "bad= wants OFF+LEN");
            a.bad.push_back(TestByteRange{parseNumber(line, value.substr(0, plus)),
                                          parseNumber(line, value.substr(plus + 1))});
        } else if (bool Attributes::*flag = flagOf(w)) {
            a.*flag = true;
        } else {
            fail(line, "unknown attribute " + w);
        }
    }
    if (a.textGiven && !a.sizeGiven)
        a.size = a.text.size();
    if (a.textGiven && a.text.empty() && a.size != 0)
        fail(line, "an empty text cannot fill a size");
    return a;
}

TestListingEntry listingEntryOf(const Attributes& a, u64 folder, u64 address, u64 index) {
    TestListingEntry e;
    e.folder = folder;
    e.address = address;
    e.index = index;
    e.name = a.name;
    e.directory = a.directory;
    e.size = a.size;
    e.time = a.time;
    e.deleted = a.deleted;
    e.system = a.system;
    e.badFat = a.badFat;
    e.prefer = a.prefer;
    e.noEquivalent = a.noEquivalent;
    return e;
}

} // namespace

TestDescription TestDescription::parse(const std::string& text) {
    TestDescription d;
    bool searchAllGiven = false;
    bool sortGiven = false;
    std::istringstream in(text);
    std::string raw;
    u64 line = 0;
    while (std::getline(in, raw)) {
        ++line;
        const std::size_t hash = raw.find('#');
        if (hash != std::string::npos)
            raw.erase(hash);
        std::istringstream words(raw);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty())
            continue;
        const std::string& keyword = w[0];
        if (keyword == "map" && w.size() == 2) {
            if (w[1] == "fat")
                d.kind = tree::MAP_FAT;
            else if (w[1] == "ntfs")
                d.kind = tree::MAP_NTFS;
            else if (w[1] == "cbr")
                d.kind = tree::MAP_CBR;
            else
                fail(line, "unknown map kind " + w[1]);
        } else if (keyword == "root" && w.size() == 2) {
            d.root = parseNumber(line, w[1]);
            if (isReserved(d.root))
                fail(line, "the root cannot be a reserved address");
        } else if (keyword == "option" && w.size() == 2) {
            if (w[1] == "searchall" || w[1] == "nosearchall") {
                d.searchAll = w[1] == "searchall";
                searchAllGiven = true;
            } else if (w[1] == "sort" || w[1] == "nosort") {
                d.sortNames = w[1] == "sort";
                sortGiven = true;
            } else {
                fail(line, "unknown option " + w[1]);
            }
        } else if (keyword == "source") {
            for (std::size_t i = 1; i < w.size(); ++i) {
                const std::size_t eq = w[i].find('=');
                const std::string key = w[i].substr(0, eq);
                const std::string value =
                    eq == std::string::npos ? std::string() : unescape(line, w[i].substr(eq + 1));
                if (key == "id")
                    d.id = value;
                else if (key == "description")
                    d.description = value;
                else if (key == "sectors")
                    d.sectors = parseNumber(line, value);
                else
                    fail(line, "unknown source key " + key);
            }
        } else if (keyword == "unreadable" && w.size() == 3) {
            const u64 start = parseNumber(line, w[1]);
            const u64 count = parseNumber(line, w[2]);
            if (start > 0xFFFFFFFFu || count > 0xFFFFFFFFu)
                fail(line, "sector runs are 32-bit");
            d.unreadable.push_back(SectorRun{static_cast<u32>(start), static_cast<u32>(count)});
        } else if ((keyword == "dir" || keyword == "file") && w.size() >= 2) {
            const u64 address = parseNumber(line, w[1]);
            if (isReserved(address))
                fail(line, "a record cannot have a reserved address");
            if (address == d.root)
                fail(line, "the root folder is implicit");
            if (d.records.count(address))
                fail(line, "address " + w[1] + " is described twice");
            Attributes a = parseAttributes(line, w, 2);
            a.directory = keyword == "dir";
            TestRecord r;
            r.address = address;
            r.directory = a.directory;
            r.hasRecord = !a.noRecord;
            r.name = a.name;
            r.parent = a.parentGiven ? a.parent : a.in.empty() ? d.root : a.in.front();
            r.parentGiven = a.parentGiven;
            r.listedIn = a.in;
            r.size = a.size;
            r.time = a.time;
            r.lba = a.lba;
            r.deleted = a.deleted;
            r.system = a.system;
            r.unreadable = a.unreadable;
            r.badFat = a.badFat;
            r.text = a.text;
            r.bad = a.bad;
            d.records.emplace(address, r);
            for (u64 folder : a.in)
                d.listing.push_back(listingEntryOf(a, folder, address, d.listing.size()));
        } else if (keyword == "entry" && w.size() >= 3) {
            const u64 folder = parseNumber(line, w[1]);
            const u64 address = parseNumber(line, w[2]);
            if (isReserved(folder))
                fail(line, "a listing cannot be in a reserved folder");
            Attributes a = parseAttributes(line, w, 3);
            d.listing.push_back(listingEntryOf(a, folder, address, d.listing.size()));
        } else {
            fail(line, "cannot read: " + raw);
        }
    }
    if (!searchAllGiven)
        d.searchAll = d.kind == tree::MAP_FAT;
    if (!sortGiven)
        d.sortNames = d.kind != tree::MAP_CBR;
    std::sort(d.unreadable.begin(), d.unreadable.end());
    return d;
}

TestEngine::TestEngine(const TestDescription& description)
    : tree::MapImpl(description.root, description.searchAll, description.sortNames),
      description_(description) {
    for (u64 i = 0; i < 251; ++i)
        defaultText_ += static_cast<char>(defaultByte(0, i));
    for (std::size_t i = 0; i < description_.listing.size(); ++i)
        listingOf_[description_.listing[i].folder].push_back(i);
    unreadable_.runs() = description_.unreadable;
    SharedPtr<dt::Reader> reader(new ZeroReader(description_.sectors * 512));
    SharedPtr<Driver> driver(new Driver(reader, 512));
    driver->getProperties().set(PROP_ID, description_.id);
    driver->getProperties().set(PROP_DESCRIPTION, description_.description);
    drive_ = std::make_unique<Drive>(driver, &unreadable_);

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

std::unique_ptr<TestEngine> TestEngine::buildFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("TestEngine: cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return build(text.str());
}

const TestRecord* TestEngine::record(u64 address) const {
    auto it = description_.records.find(address);
    return it == description_.records.end() ? nullptr : &it->second;
}

const TestListingEntry* TestEngine::listingEntry(u64 index) const {
    return index < description_.listing.size() ? &description_.listing[index] : nullptr;
}

Folder TestEngine::readFolder(u64 address, Node& out) {
    const TestRecord* r = record(address);
    const bool isRoot = address == description_.root;
    const bool readable = isRoot || (r && r->hasRecord && r->directory);
    out = Node(r ? r->name : std::string(), address, Node::NONE, r ? r->size : 0,
               r ? r->time : 0xFFFFFFFFu);
    out.setFlag(Node::DIRECTORY, true);
    out.setLink(tree::FROM);
    if (r) {
        out.setFlag(Node::DELETED, r->deleted);
        out.setFlag(Node::SYSTEM, r->system);
    }
    const tree::FolderState state =
        description_.kind == tree::MAP_CBR ? tree::ELEMS_SORTED : tree::ATTACHED;
    if (!readable) {
        out.setFlag(Node::INVALID_DIRECTORY, true);
        return Folder(state, description_.root);
    }
    Folder folder(state, isRoot ? tree::TOP_FOLDER : r->parent);
    const auto listed = listingOf_.find(address);
    for (std::size_t i : listed == listingOf_.end() ? std::vector<std::size_t>() : listed->second) {
        const TestListingEntry& e = description_.listing[i];
        Node n(e.name, e.address, e.index, e.size, e.time);
        n.setFlag(Node::DIRECTORY, e.directory);
        n.setFlag(Node::DELETED, e.deleted);
        n.setFlag(Node::SYSTEM, e.system);
        // Carved files are known from their content alone, so nothing contradicts
        // them; and their folders are born sorted, never checked, so what
        // checkStatuses would mark is marked here.
        if (description_.kind == tree::MAP_CBR) {
            n.setLink(tree::GOOD);
            n.setFlag(Node::HAS_UNREADABLE, hasUnreadable(record(e.address)));
        }
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
    ++loadFoundEntryCalls_;
    if (description_.kind != tree::MAP_NTFS)
        return false;
    const TestRecord* r = record(address);
    // Each record is read once, as the NTFS map does, so that an entry listed in
    // two folders is not placed twice.
    if (!r || !r->hasRecord || !visited_.insert(address).second)
        return false;
    out = Node(r->name, r->parent, Node::NONE, r->size, r->time);
    out.setFlag(Node::DIRECTORY, r->directory);
    out.setFlag(Node::DELETED, r->deleted);
    out.setFlag(Node::SYSTEM, r->system);
    out.setLink(tree::FROM);
    return true;
}

bool TestEngine::hasUnreadable(const TestRecord* r) const {
    if (!r || r->directory)
        return false;
    if (r->unreadable)
        return true;
    return r->lba != Node::NONE && r->size != 0 &&
           drive_->isUnreadable(r->lba, r->size / 512 + (r->size % 512 != 0));
}

void TestEngine::checkStatuses(Folder& folder) {
    ++checkStatusesCalls_;
    for (Node& n : folder.getNodes()) {
        if (n.hasFlag(Node::DIRECTORY))
            continue;
        const TestRecord* r = record(n.getAddress());
        const TestListingEntry* e =
            n.getLink() == tree::FROM ? nullptr : listingEntry(n.getIndex());
        if (description_.kind == tree::MAP_FAT && ((e && e->badFat) || (r && r->badFat)))
            n.setStatus(tree::BAD_IN_FAT);
        if (hasUnreadable(r))
            n.setFlag(Node::HAS_UNREADABLE, true);
    }
    folder.setState(tree::STATUSES_CHECKED);
}

bool TestEngine::isEquivalent(const Node& listed, const Node& added) {
    // A folder that could not be read confirms nothing about the entry naming it.
    if (added.hasFlag(Node::INVALID_DIRECTORY))
        return false;
    const TestListingEntry* e = listingEntry(listed.getIndex());
    return !(e && e->noEquivalent);
}

bool TestEngine::isPreferred(const Node& candidate, const Node& best) {
    const TestListingEntry* c = listingEntry(candidate.getIndex());
    const TestListingEntry* b = listingEntry(best.getIndex());
    return c && c->prefer && !(b && b->prefer);
}

void TestEngine::ostreamInfo(std::ostream& out, const tree::MapPosition& position, Folder& folder,
                             Node& node) {
    (void)position;
    (void)folder;
    const TestRecord* r = record(node.getAddress());
    out << "Record:\t" << (r && r->hasRecord ? "yes" : "no") << '\n';
}

void TestEngine::ostreamPartitionInfo(std::ostream& out) {
    out << "Test engine: kind " << description_.kind << ", root " << description_.root << '\n';
}

u64 TestEngine::getNodeLBA(u64 address) {
    const TestRecord* r = record(address);
    return r ? r->lba : Node::NONE;
}

void TestEngine::analyzeFoundFiles() {
    if (description_.kind == tree::MAP_CBR)
        return;
    for (const auto& entry : description_.records) {
        const TestRecord& r = entry.second;
        if (!r.hasRecord || visited_.count(r.address))
            continue;
        if (r.directory) {
            if (findFolder(r.address))
                continue;
            Node own;
            Folder* folder = loadFolder(r.address, own);
            addFoundNode(folder, own);
            reportFolderPath(r.address);
        } else if (description_.kind == tree::MAP_NTFS) {
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

std::vector<TestByteRange> TestEngine::failingRanges(const TestRecord& r) const {
    std::vector<TestByteRange> ranges;
    for (const TestByteRange& b : r.bad) {
        if (b.offset < r.size && b.length != 0)
            ranges.push_back(TestByteRange{b.offset, std::min(b.length, r.size - b.offset)});
    }
    if (r.lba != Node::NONE && r.size != 0) {
        const u64 first = r.lba;
        const u64 end = r.lba + (r.size + 511) / 512;
        for (const SectorRun& run : description_.unreadable) {
            const u64 s = std::max<u64>(run.start, first);
            const u64 e = std::min<u64>(run.end(), end);
            if (s >= e)
                continue;
            const u64 from = (s - first) * 512;
            const u64 to = std::min<u64>((e - first) * 512, r.size);
            ranges.push_back(TestByteRange{from, to - from});
        }
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const TestByteRange& a, const TestByteRange& b) { return a.offset < b.offset; });
    std::vector<TestByteRange> merged;
    for (const TestByteRange& b : ranges) {
        if (!merged.empty() && b.offset <= merged.back().offset + merged.back().length) {
            TestByteRange& m = merged.back();
            m.length = std::max(m.offset + m.length, b.offset + b.length) - m.offset;
        } else {
            merged.push_back(b);
        }
    }
    return merged;
}

const char* TestEngine::dataAt(const TestRecord& r, u64 offset) const {
    // The default data is one sequence of 251 bytes that each file starts at its
    // own place, so one window serves every file that has no text of its own.
    const std::string& text = r.text.empty() ? defaultText_ : r.text;
    const u64 shift = r.text.empty() ? r.address % 251 : 0;
    auto it = windows_.find(text);
    if (it == windows_.end()) {
        // Windows of texts come and go with the files; only a few are kept. A
        // window handed out is never dropped while its own file is being read,
        // because the file finds it here again.
        if (windows_.size() >= 16)
            windows_.clear();
        std::string window;
        window.reserve(text.size() * 2 + CHUNK_SIZE);
        while (window.size() < text.size() + CHUNK_SIZE)
            window += text;
        it = windows_.emplace(text, std::move(window)).first;
    }
    return it->second.data() + (offset + shift) % text.size();
}

bool TestEngine::readRange(const TestRecord& r, const std::vector<TestByteRange>& failing,
                           u64 offset, u8* out, u64 n) const {
    for (u64 done = 0; done < n;) {
        const u64 piece = std::min<u64>(n - done, CHUNK_SIZE);
        std::memcpy(out + done, dataAt(r, offset + done), piece);
        done += piece;
    }
    bool ok = true;
    for (const TestByteRange& b : failing) {
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
    const TestRecord* r = record(address);
    if (!r)
        return std::string();
    std::string out(r->size, '\0');
    readRange(*r, failingRanges(*r), 0, reinterpret_cast<u8*>(&out[0]), r->size);
    return out;
}

TestRecord TestEngine::dataOf(const Node& node) const {
    TestRecord r;
    if (const TestRecord* known = record(node.getAddress()))
        r = *known;
    else
        r.address = node.getAddress();
    // The size of the entry as the tree shows it; the bytes are the record's.
    r.size = node.getSize() == Node::NONE ? 0 : node.getSize();
    return r;
}

bool TestEngine::recoverNode(tree::Recoverer& recoverer, const std::vector<std::string>& path,
                             Node& node) {
    const TestRecord r = dataOf(node);
    const std::vector<TestByteRange> failing = failingRanges(r);

    recoverer.beginFile(tree::FileEntry(node.getName(), r.size, node.getTime()), path);
    bool ok = true;
    std::vector<u8> scratch;
    for (u64 offset = 0; offset < r.size;) {
        drive_->poll();
        const u32 n = static_cast<u32>(std::min<u64>(r.size - offset, CHUNK_SIZE));
        const bool clean =
            std::none_of(failing.begin(), failing.end(), [&](const TestByteRange& b) {
                return b.offset < offset + n && offset < b.offset + b.length;
            });
        if (clean) {
            recoverer.write(dataAt(r, offset), n);
        } else {
            scratch.resize(n);
            ok = readRange(r, failing, offset, scratch.data(), n) && ok;
            recoverer.write(scratch.data(), n);
        }
        offset += n;
    }
    recoverer.endFile();
    if (!ok)
        logAt("TestEngine", 10) << ": unreadable data in " << node.getName() << '\n';
    return ok;
}

int TestEngine::readNodeData(Node& node, u8* buffer, u32 size, u64 offset) {
    const TestRecord r = dataOf(node);
    if (offset >= r.size)
        return 0;
    const u64 n = std::min<u64>({size, r.size - offset, 0x7FFFFFFFu});
    if (!readRange(r, failingRanges(r), offset, buffer, n))
        return -1;
    return static_cast<int>(n);
}

} // namespace testutil
