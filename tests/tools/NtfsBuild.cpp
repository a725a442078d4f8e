// hbntfsbuild: fills an NTFS volume image made by `mkntfs -F -Q` with what the
// NTFS engine's tests need, through libntfs-3g, and damages it at named places.
//
//   hbntfsbuild IMAGE -f SCRIPT
//
// IMAGE is the volume itself (no partition table). Each line of the SCRIPT is a
// command and its tab-separated arguments (tests/support/NtfsBuilder.h writes
// them and says what each one does). Paths inside the volume are absolute,
// '/'-separated UTF-8; DATAFILE is a host file whose bytes the new file gets.
//   mkdir PATH, write PATH DATAFILE, compress PATH DATAFILE,
//   sparse PATH DATAFILE OFFSET:LENGTH[,OFFSET:LENGTH...] (cluster-aligned holes),
//   fragment PATH DATAFILE PIECES, dosname PATH SHORTNAME, setmtime PATH UNIX_SECONDS,
//   rm PATH, rmtree PATH, link PATH NEWPATH (a hard link), symlink PATH TARGET
//   (as libntfs-3g makes one: flagged system, the target in its data), datatime PATH
//   UNIX_SECONDS (the modification time of the record's standard information
//   alone, as a write leaves it), and for the benchmarks files FOLDER COUNT SIZE:
//   COUNT files f000001, f000002, ... of SIZE bytes, each its own name repeated;
// and the damage, written straight to the image after libntfs-3g let go of it:
//   zero-boot, zero-mft0, zero-mirror0, zero-records FIRST COUNT, zero-record PATH,
//   clear-inuse PATH, corrupt-data PATH OFFSET HEX (the bytes of the
//   attribute of the file's data stream in its record, at OFFSET in it),
//   corrupt-attr PATH TYPE OFFSET HEX (the same in the unnamed attribute of
//   that type), cut-runs PATH RUNS (the data stream's run list ends after its
//   first RUNS runs), corrupt-index FOLDER NAME OFFSET HEX, zero-index-block
//   FOLDER NAME (the block holding NAME's entry)
//
// Everything made gets the time SOURCE_DATE_EPOCH (which must be set), and so
// do the folders it goes into, so that images come out the same every time. Every
// command is checked before the first one runs; any failure prints what failed
// and why and exits with 1.

#include "core/Array.h"
#include "core/Types.h"
#include "fs/ntfs/NtfsLayout.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

// libntfs-3g's headers are C without linkage guards, and define min and max.
extern "C" {
#include <ntfs-3g/types.h>

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/lcnalloc.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/ntfstime.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
#undef min
#undef max

namespace {

// libntfs-3g compresses only on volumes with clusters up to this size.
constexpr u32 MAX_COMPRESSION_CLUSTER = 4096;

namespace L = ntfslayout;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::string systemError() {
    return std::strerror(errno);
}

u64 parseNumber(const std::string& text, const char* what) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        fail(std::string(what) + " \"" + text + "\" is not a number");
    return std::stoull(text);
}

// ---- Owners of libntfs-3g's objects ----

// Hands an object back to the library function that disposes of it.
template <auto Dispose> struct Disposer {
    template <typename T> void operator()(T* p) const { Dispose(p); }
};

using Inode = std::unique_ptr<ntfs_inode, Disposer<ntfs_inode_close>>;
using Attr = std::unique_ptr<ntfs_attr, Disposer<ntfs_attr_close>>;
using SearchCtx = std::unique_ptr<ntfs_attr_search_ctx, Disposer<ntfs_attr_put_search_ctx>>;

SearchCtx searchRecord(ntfs_inode* ni) {
    SearchCtx ctx(ntfs_attr_get_search_ctx(ni, nullptr));
    if (!ctx)
        fail("cannot search record " + std::to_string(ni->mft_no) + ": " + systemError());
    return ctx;
}

// The attribute the search stands on, as bytes of the record.
Array currentAttribute(const ntfs_attr_search_ctx* ctx) {
    auto* a = reinterpret_cast<u8*>(ctx->attr);
    return Array(a, ConstArray(a, 8).getLE32(L::ATTR_LENGTH));
}

// Closing writes the inode back; a failure there is a failure of the command.
void closeInode(Inode& ni, const std::string& what) {
    if (ni && ntfs_inode_close(ni.release()) != 0)
        fail("cannot write back " + what + ": " + systemError());
}

// A child is closed through its folder so that libntfs-3g updates the folder's
// index entry in the folder we hold open, not in a second copy of it.
void closeInodeInDir(Inode& ni, Inode& dir, const std::string& what) {
    if (ni && ntfs_inode_close_in_dir(ni.release(), dir.get()) != 0)
        fail("cannot write back " + what + ": " + systemError());
}

bool isDirectory(const ntfs_inode* ni) {
    return (ni->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
}

// A name in the volume's UTF-16.
class UName {
public:
    explicit UName(const std::string& utf8) {
        ntfschar* data = nullptr;
        int n = ntfs_mbstoucs(utf8.c_str(), &data);
        data_.reset(data);
        if (n < 0)
            fail("\"" + utf8 + "\" is not a valid name: " + systemError());
        if (n == 0 || n > 255)
            fail("\"" + utf8 + "\" has " + std::to_string(n) +
                 " UTF-16 units; a name has 1 to 255");
        length_ = static_cast<u8>(n);
    }

    const ntfschar* data() const { return data_.get(); }
    u8 length() const { return length_; }

private:
    std::unique_ptr<ntfschar, Disposer<std::free>> data_;
    u8 length_ = 0;
};

// "/a//b/c" to "/a/b" and "c"; the root has no leaf.
struct VolumePath {
    std::string parent;
    std::string leaf;
    std::string whole() const { return parent == "/" ? "/" + leaf : parent + "/" + leaf; }
};

VolumePath splitPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        fail("path \"" + path + "\" does not begin with '/'");
    std::vector<std::string> parts;
    std::istringstream in(path);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (!part.empty())
            parts.push_back(part);
    }
    VolumePath vp{"/", ""};
    if (parts.empty())
        return vp;
    vp.leaf = parts.back();
    parts.pop_back();
    for (const std::string& p : parts)
        vp.parent += (vp.parent == "/" ? "" : "/") + p;
    return vp;
}

// ---- Host files ----

// A data file whole: the tests' and benchmarks' ones fit in memory.
std::string readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in.is_open() || in.bad())
        fail("cannot read data file " + path);
    return bytes.str();
}

// A run of bytes of a file: [offset, offset + length).
struct Range {
    u64 offset = 0;
    u64 length = 0;
};

// ---- Raw access to the image, for the damage ----

void rawWrite(const std::string& image, u64 offset, const std::vector<u8>& bytes) {
    std::fstream out(image, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out)
        fail("cannot write " + std::to_string(bytes.size()) + " bytes at " +
             std::to_string(offset) + " of " + image);
}

std::vector<u8> parseHex(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        fail("\"" + text + "\" is not an even number of hex digits");
    std::vector<u8> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<u8>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

// OFFSET:LENGTH[,OFFSET:LENGTH...] in order, inside the file.
std::vector<Range> parseHoles(const std::string& text, u64 fileSize) {
    std::vector<Range> holes;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        std::size_t colon = item.find(':');
        if (colon == std::string::npos)
            fail("hole \"" + item + "\" is not OFFSET:LENGTH");
        Range r{parseNumber(item.substr(0, colon), "hole offset"),
                parseNumber(item.substr(colon + 1), "hole length")};
        if (r.length == 0 || !(r.offset <= fileSize && r.length <= fileSize - r.offset))
            fail("hole \"" + item + "\" is empty or not inside the file's " +
                 std::to_string(fileSize) + " bytes");
        if (!holes.empty() && r.offset < holes.back().offset + holes.back().length)
            fail("hole \"" + item + "\" is out of order");
        holes.push_back(r);
    }
    return holes;
}

// ---- The session ----

struct Command;

class Builder {
public:
    explicit Builder(std::string image) : image_(std::move(image)) {
        const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
        struct timespec ts {};
        ts.tv_sec = static_cast<time_t>(parseNumber(epoch ? epoch : "", "SOURCE_DATE_EPOCH"));
        epoch_ = timespec2ntfs(ts);
    }
    ~Builder() {
        // Only after a failure: the image is scrap then, but the library still
        // gets to write back what it holds.
        if (vol_)
            ntfs_umount(vol_, TRUE);
    }
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    // The command `c` names, its arguments counted; throws for any other.
    static const Command* command(const std::vector<std::string>& c);
    void finish() { unmount(); }

private:
    ntfs_volume* volume();
    void unmount();

    Inode openPath(const std::string& path);
    Inode openFolder(const std::string& path);
    Inode openIn(Inode& dir, const VolumePath& vp);
    void stamp(ntfs_inode* ni);
    void stampFolder(const std::string& folder);

    // A new file or folder; the folder it went into stays open for the close.
    struct Made {
        Inode dir;
        Inode ni;
    };
    // A symbolic link as libntfs-3g makes one, `target` in its data.
    Made make(const std::string& path, mode_t type, const std::string* target = nullptr);
    void symlink(const std::string& path, const std::string& target);
    void finishMade(Made& m, const std::string& path);
    Attr openData(ntfs_inode* ni, const std::string& path);
    void copy(ntfs_attr* na, const std::string& data, const Range& r, const std::string& path);
    // In a compressed folder (a volume made with mkntfs -C) the file is
    // compressed anyway.
    void writeFrom(const std::string& path, const std::string& dataFile, bool compressed);

    void mkdir(const std::string& path);
    void setCompressed(ntfs_inode* ni, bool on, const std::string& path);
    void sparse(const std::string& path, const std::string& dataFile, const std::string& holes);
    void fragment(const std::string& path, const std::string& dataFile, u64 pieces);
    void files(const std::string& folder, u64 count, u64 size);
    void dosName(const std::string& path, const std::string& shortName);
    void setMtime(const std::string& path, u64 seconds, bool names);
    void link(const std::string& path, const std::string& newPath);
    void remove(const std::string& path, bool folder);
    void removeTree(const std::string& path);

    // What the damage needs of the volume, read while it was whole.
    struct Geometry {
        u64 sectorBytes = 0;
        u64 clusterBytes = 0;
        u64 mirrorLcn = 0;
        u64 recordBytes = 0;
    };
    const Geometry& geometry();
    void zeroRecords(bool mirror, u64 first, u64 count);
    void zeroBoot();
    void clearInUse(const std::string& path);
    void corruptAttribute(const std::string& path, ATTR_TYPES type, u64 offset,
                          const std::vector<u8>& bytes);
    void cutRuns(const std::string& path, u64 pairs);
    void zeroRecordOf(const std::string& path);
    void damageIndex(const std::string& folder, const std::string& name, u64 offset,
                     const std::vector<u8>& bytes, bool wholeBlock);

    std::string image_;
    ntfs_volume* vol_ = nullptr;
    ntfs_time epoch_;
    std::optional<Geometry> geometry_;
};

ntfs_volume* Builder::volume() {
    if (!vol_) {
        vol_ = ntfs_mount(image_.c_str(), NTFS_MNT_NONE);
        if (!vol_)
            fail("cannot mount " + image_ + ": " + systemError());
        // As the driver mounts by default: files made in a compressed folder
        // (all of them on a volume made with mkntfs -C) come out compressed.
        if (vol_->cluster_size <= MAX_COMPRESSION_CLUSTER)
            NVolSetCompression(vol_);
    }
    return vol_;
}

void Builder::unmount() {
    if (!vol_)
        return;
    ntfs_volume* v = vol_;
    vol_ = nullptr;
    if (ntfs_umount(v, FALSE) != 0)
        fail("cannot unmount " + image_ + ": " + systemError());
}

Inode Builder::openPath(const std::string& path) {
    VolumePath vp = splitPath(path);
    Inode ni(ntfs_pathname_to_inode(volume(), nullptr, vp.whole().c_str()));
    if (!ni)
        fail("cannot find " + vp.whole() + ": " + systemError());
    return ni;
}

// The entry vp.leaf of the folder `dir`, which is open.
Inode Builder::openIn(Inode& dir, const VolumePath& vp) {
    if (vp.leaf.empty())
        fail("the root folder cannot be named here");
    Inode ni(ntfs_pathname_to_inode(volume(), dir.get(), vp.leaf.c_str()));
    if (!ni)
        fail("cannot find " + vp.whole() + ": " + systemError());
    return ni;
}

Inode Builder::openFolder(const std::string& path) {
    Inode ni = openPath(path);
    if (!isDirectory(ni.get()))
        fail(path + " is not a folder");
    return ni;
}

// The library leaves the times of the $FILE_NAME attributes in the record as it
// made them, as a name's times are; the engine reads them, so they take the
// inode's four times (creation, modification, record change, access). The
// folder's index entry takes them when the inode is closed.
void syncNameTimes(ntfs_inode* ni) {
    const ntfs_time times[4] = {ni->creation_time, ni->last_data_change_time,
                                ni->last_mft_change_time, ni->last_access_time};
    SearchCtx ctx = searchRecord(ni);
    while (ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0,
                            ctx.get()) == 0) {
        Array attr = currentAttribute(ctx.get());
        u32 value = attr.getLE16(L::ATTR_VALUE_OFFSET);
        for (u32 i = 0; i < 4; ++i)
            attr.setLE64(value + L::FN_TIMES + 8 * i, static_cast<u64>(times[i]));
    }
    NInoFileNameSetDirty(ni);
    ntfs_inode_mark_dirty(ni);
}

void Builder::stamp(ntfs_inode* ni) {
    ni->creation_time = epoch_;
    ni->last_data_change_time = epoch_;
    ni->last_mft_change_time = epoch_;
    ni->last_access_time = epoch_;
    syncNameTimes(ni);
}

// Making or deleting something in a folder moves the folder's times; they are
// put back.
void Builder::stampFolder(const std::string& folder) {
    Inode dir = openFolder(folder);
    stamp(dir.get());
    closeInode(dir, folder);
}

Builder::Made Builder::make(const std::string& path, mode_t type, const std::string* target) {
    VolumePath vp = splitPath(path);
    if (vp.leaf.empty())
        fail("cannot make the root folder");
    Made m;
    m.dir = openFolder(vp.parent);
    UName name(vp.leaf);
    if (ntfs_inode_lookup_by_name(m.dir.get(), name.data(), name.length()) != static_cast<u64>(-1))
        fail(vp.whole() + " exists already");
    if (target) {
        UName to(*target);
        m.ni.reset(ntfs_create_symlink(m.dir.get(), const_cpu_to_le32(0), name.data(),
                                       name.length(), to.data(), to.length()));
    } else {
        m.ni.reset(
            ntfs_create(m.dir.get(), const_cpu_to_le32(0), name.data(), name.length(), type));
    }
    if (!m.ni)
        fail("cannot make " + vp.whole() + ": " + systemError());
    stamp(m.ni.get());
    return m;
}

void Builder::finishMade(Made& m, const std::string& path) {
    closeInodeInDir(m.ni, m.dir, path);
    stamp(m.dir.get());
    closeInode(m.dir, splitPath(path).parent);
}

Attr Builder::openData(ntfs_inode* ni, const std::string& path) {
    Attr na(ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0));
    if (!na)
        fail("cannot open the data of " + path + ": " + systemError());
    return na;
}

void Builder::copy(ntfs_attr* na, const std::string& data, const Range& r,
                   const std::string& path) {
    for (u64 at = r.offset; at < r.offset + r.length;) {
        const s64 wrote = ntfs_attr_pwrite(na, static_cast<s64>(at),
                                           static_cast<s64>(r.offset + r.length - at), &data[at]);
        if (wrote <= 0)
            fail("cannot write " + path + " at " + std::to_string(at) + ": " +
                 (wrote < 0 ? systemError() : "nothing written"));
        at += static_cast<u64>(wrote);
    }
}

// A compressed attribute holds its last compression block back until this.
void finishData(ntfs_attr* na, const std::string& path) {
    if ((na->data_flags & ATTR_COMPRESSION_MASK) && ntfs_attr_pclose(na) != 0)
        fail("cannot finish compressing " + path + ": " + systemError());
}

void Builder::writeFrom(const std::string& path, const std::string& dataFile, bool compressed) {
    if (compressed && volume()->cluster_size > MAX_COMPRESSION_CLUSTER)
        fail("cannot compress " + path + ": the volume's clusters of " +
             std::to_string(volume()->cluster_size) + " bytes are too large for compression");
    const std::string host = readHostFile(dataFile);
    Made m = make(path, S_IFREG);
    if (compressed)
        setCompressed(m.ni.get(), true, path);
    {
        Attr na = openData(m.ni.get(), path);
        copy(na.get(), host, Range{0, host.size()}, path);
        finishData(na.get(), path);
        if (compressed && !(na->data_flags & ATTR_IS_COMPRESSED))
            fail(path + " did not come out compressed");
    }
    finishMade(m, path);
}

void Builder::symlink(const std::string& path, const std::string& target) {
    Made m = make(path, S_IFLNK, &target);
    finishMade(m, path);
}

void Builder::mkdir(const std::string& path) {
    Made m = make(path, S_IFDIR);
    finishMade(m, path);
}

void Builder::setCompressed(ntfs_inode* ni, bool on, const std::string& path) {
    if (ntfs_attr_set_flags(ni, AT_DATA, AT_UNNAMED, 0, on ? ATTR_IS_COMPRESSED : ATTR_FLAGS{},
                            ATTR_COMPRESSION_MASK) != 0)
        fail("cannot mark " + path + (on ? " compressed: " : " not compressed: ") + systemError());
    ni->flags = static_cast<FILE_ATTR_FLAGS>(on ? ni->flags | FILE_ATTR_COMPRESSED
                                                : ni->flags & ~FILE_ATTR_COMPRESSED);
    NInoFileNameSetDirty(ni);
    ntfs_inode_mark_dirty(ni);
}

void Builder::sparse(const std::string& path, const std::string& dataFile,
                     const std::string& holeText) {
    const std::string host = readHostFile(dataFile);
    std::vector<Range> holes = parseHoles(holeText, host.size());
    const u64 cluster = volume()->cluster_size;
    Made m = make(path, S_IFREG);
    // Holes of a compressed file are another matter; this one is sparse only.
    setCompressed(m.ni.get(), false, path);
    {
        Attr na = openData(m.ni.get(), path);
        // Growing the file first leaves it one hole; the data fills its parts.
        if (ntfs_attr_truncate(na.get(), static_cast<s64>(host.size())) != 0)
            fail("cannot size " + path + ": " + systemError());
        u64 at = 0;
        for (const Range& h : holes) {
            copy(na.get(), host, Range{at, h.offset - at}, path);
            at = h.offset + h.length;
        }
        copy(na.get(), host, Range{at, host.size() - at}, path);
        // The holes must have stayed unallocated, or the file tests nothing.
        if (!holes.empty()) {
            if (!NAttrNonResident(na.get()))
                fail(path + " stayed resident; a sparse file needs more data");
            if (ntfs_attr_map_whole_runlist(na.get()) != 0)
                fail("cannot map the runs of " + path + ": " + systemError());
            for (const runlist_element* rl = na->rl; rl && rl->length; ++rl) {
                if (rl->lcn < 0)
                    continue;
                u64 first = static_cast<u64>(rl->vcn) * cluster;
                u64 end = first + static_cast<u64>(rl->length) * cluster;
                for (const Range& h : holes) {
                    if (first < h.offset + h.length && h.offset < end)
                        fail("the hole at " + std::to_string(h.offset) + " of " + path +
                             " was allocated");
                }
            }
        }
    }
    finishMade(m, path);
}

// The file is written piece by piece, and after every piece one cluster right
// behind it is taken, so that the next piece has to go elsewhere. The taken
// clusters are given back at the end: the gaps are free space, and no other
// file is left behind.
void Builder::fragment(const std::string& path, const std::string& dataFile, u64 pieces) {
    ntfs_volume* vol = volume();
    const std::string host = readHostFile(dataFile);
    u64 cluster = vol->cluster_size;
    u64 clusters = (host.size() + cluster - 1) / cluster;
    if (pieces < 2 || clusters < pieces)
        fail(dataFile + " has " + std::to_string(clusters) + " clusters; " +
             std::to_string(pieces) + " pieces need at least as many, and at least 2");
    Made m = make(path, S_IFREG);
    setCompressed(m.ni.get(), false, path);
    std::vector<LCN> taken;
    auto giveBack = [&]() {
        for (LCN lcn : taken)
            ntfs_cluster_free_basic(vol, lcn, 1);
        taken.clear();
    };
    try {
        Attr na = openData(m.ni.get(), path);
        for (u64 i = 0; i < pieces; ++i) {
            // Piece i: clusters [i * clusters / pieces, (i + 1) * clusters / pieces).
            u64 from = i * clusters / pieces * cluster;
            u64 to = std::min((i + 1) * clusters / pieces * cluster, host.size());
            Range r{from, to - from};
            copy(na.get(), host, r, path);
            // A resident start would join the next piece when it moves out.
            if (!NAttrNonResident(na.get()) && ntfs_attr_force_non_resident(na.get()) != 0)
                fail("cannot move the data of " + path + " out of its record: " + systemError());
            if (r.offset + r.length >= host.size())
                break;
            VCN last = static_cast<VCN>((r.offset + r.length - 1) / cluster);
            LCN lcn = ntfs_attr_vcn_to_lcn(na.get(), last);
            if (lcn < 0)
                fail("cannot find where " + path + " ends: " + systemError());
            runlist* rl = ntfs_cluster_alloc(vol, 0, 1, lcn + 1, DATA_ZONE);
            if (!rl)
                fail("cannot take a cluster behind " + path + ": " + systemError());
            taken.push_back(rl[0].lcn);
            std::free(rl);
        }
        if (ntfs_attr_map_whole_runlist(na.get()) != 0)
            fail("cannot map the runs of " + path + ": " + systemError());
        u64 runs = 0;
        for (const runlist_element* rl = na->rl; rl && rl->length; ++rl)
            runs += rl->lcn >= 0 ? 1 : 0;
        if (runs < pieces)
            fail(path + " came out in " + std::to_string(runs) + " runs, not " +
                 std::to_string(pieces));
    } catch (...) {
        giveBack();
        throw;
    }
    giveBack();
    finishMade(m, path);
}

void Builder::files(const std::string& folder, u64 count, u64 size) {
    if (count > 999999)
        fail("at most 999999 files at once");
    std::string base = splitPath(folder).whole();
    Inode dir = openFolder(base);
    for (u64 i = 1; i <= count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%06u", static_cast<unsigned>(i));
        std::string content;
        while (content.size() < size)
            content += name;
        content.resize(size);
        UName uname(name);
        std::string path = (base == "/" ? "" : base) + "/" + name;
        Inode ni(
            ntfs_create(dir.get(), const_cpu_to_le32(0), uname.data(), uname.length(), S_IFREG));
        if (!ni)
            fail("cannot make " + path + ": " + systemError());
        stamp(ni.get());
        if (size) {
            Attr na = openData(ni.get(), path);
            if (ntfs_attr_pwrite(na.get(), 0, static_cast<s64>(size), content.data()) !=
                static_cast<s64>(size))
                fail("cannot write " + path + ": " + systemError());
            finishData(na.get(), path);
        }
        closeInodeInDir(ni, dir, path);
    }
    stamp(dir.get());
    closeInode(dir, base);
}

void Builder::dosName(const std::string& path, const std::string& shortName) {
    VolumePath vp = splitPath(path);
    Inode dir = openFolder(vp.parent);
    Inode ni = openIn(dir, vp);
    // The library closes both inodes, whatever comes of it.
    int r =
        ntfs_set_ntfs_dos_name(ni.release(), dir.release(), shortName.data(), shortName.size(), 0);
    if (r != 0)
        fail("cannot give " + vp.whole() + " the DOS name " + shortName + ": " + systemError());
    // The names were made anew, with the time of now.
    dir = openFolder(vp.parent);
    ni = openIn(dir, vp);
    syncNameTimes(ni.get());
    closeInodeInDir(ni, dir, vp.whole());
    stamp(dir.get());
    closeInode(dir, vp.parent);
}

// With `names` the names take the time too; without, only the standard
// information has it, as after a write that no rename followed.
void Builder::setMtime(const std::string& path, u64 seconds, bool names) {
    VolumePath vp = splitPath(path);
    Inode dir = openFolder(vp.parent);
    Inode ni = openIn(dir, vp);
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ni->last_data_change_time = timespec2ntfs(ts);
    if (names)
        syncNameTimes(ni.get());
    else
        ntfs_inode_mark_dirty(ni.get());
    closeInodeInDir(ni, dir, vp.whole());
    closeInode(dir, vp.parent);
}

void Builder::link(const std::string& path, const std::string& newPath) {
    Inode ni = openPath(path);
    if (isDirectory(ni.get()))
        fail(path + " is a folder");
    VolumePath vp = splitPath(newPath);
    Inode dir = openFolder(vp.parent);
    UName name(vp.leaf);
    if (ntfs_link(ni.get(), dir.get(), name.data(), name.length()) != 0)
        fail("cannot link " + path + " as " + vp.whole() + ": " + systemError());
    closeInode(ni, path);
    stamp(dir.get());
    closeInode(dir, vp.parent);
}

void Builder::remove(const std::string& path, bool folder) {
    VolumePath vp = splitPath(path);
    Inode dir = openFolder(vp.parent);
    UName name(vp.leaf);
    Inode ni = openIn(dir, vp);
    if (isDirectory(ni.get()) != folder)
        fail(vp.whole() + (folder ? " is not a folder" : " is a folder"));
    // ntfs_delete closes both inodes, whatever comes of it.
    if (ntfs_delete(volume(), nullptr, ni.release(), dir.release(), name.data(), name.length()) !=
        0)
        fail("cannot delete " + vp.whole() + ": " + systemError());
    stampFolder(vp.parent);
}

// The names in a folder, as the library lists them.
struct Listing {
    std::vector<std::pair<std::string, bool>> entries; // name, is a folder
    bool failed = false;
};

int collect(void* dirent, const ntfschar* name, const int nameLength, const int nameType, const s64,
            const MFT_REF, const unsigned type) {
    auto* listing = static_cast<Listing*>(dirent);
    // A DOS name is a second name of something listed under its long one.
    if (nameType == FILE_NAME_DOS)
        return 0;
    char* utf8 = nullptr;
    if (ntfs_ucstombs(name, nameLength, &utf8, 0) < 0) {
        listing->failed = true;
        return -1;
    }
    std::string n(utf8);
    std::free(utf8);
    if (n != "." && n != "..")
        listing->entries.emplace_back(n, type == NTFS_DT_DIR);
    return 0;
}

void Builder::removeTree(const std::string& path) {
    VolumePath vp = splitPath(path);
    if (vp.leaf.empty())
        fail("cannot delete the root folder");
    Listing listing;
    {
        Inode dir = openFolder(vp.whole());
        s64 pos = 0;
        if (ntfs_readdir(dir.get(), &pos, &listing, collect) != 0 || listing.failed)
            fail("cannot list " + vp.whole() + ": " + systemError());
        closeInode(dir, vp.whole());
    }
    for (const auto& [name, folder] : listing.entries) {
        std::string child = vp.whole() + "/" + name;
        if (folder)
            removeTree(child);
        else
            remove(child, false);
    }
    remove(vp.whole(), true);
}

// Taken from the library once, so that one damage does not hide where the
// next one goes (zero-boot before zero-mft0).
const Builder::Geometry& Builder::geometry() {
    if (!geometry_) {
        const ntfs_volume* v = volume();
        geometry_ = Geometry{v->sector_size, v->cluster_size, static_cast<u64>(v->mftmirr_lcn),
                             v->mft_record_size};
    }
    return *geometry_;
}

void Builder::zeroBoot() {
    const u64 bytes = geometry().sectorBytes;
    unmount();
    rawWrite(image_, 0, std::vector<u8>(bytes, 0));
}

// Records wherever the MFT's runs put them: a large MFT is fragmented. The
// mirror's four lie in one run.
void Builder::zeroRecords(bool mirror, u64 first, u64 count) {
    const Geometry& g = geometry();
    const u64 end = (first + count) * g.recordBytes;
    // Each piece's place on the volume, asked while the library holds the
    // MFT's run list: the byte offset and the length.
    std::vector<std::pair<u64, u64>> pieces;
    for (u64 at = first * g.recordBytes; at < end;) {
        const u64 within = at % g.clusterBytes;
        const u64 length = std::min(g.clusterBytes - within, end - at);
        u64 lcn = g.mirrorLcn + at / g.clusterBytes;
        if (!mirror) {
            const LCN mapped =
                ntfs_attr_vcn_to_lcn(volume()->mft_na, static_cast<VCN>(at / g.clusterBytes));
            if (mapped < 0)
                fail("record " + std::to_string(at / g.recordBytes) + " lies past the MFT");
            lcn = static_cast<u64>(mapped);
        }
        pieces.emplace_back(lcn * g.clusterBytes + within, length);
        at += length;
    }
    unmount();
    for (const auto& piece : pieces)
        rawWrite(image_, piece.first, std::vector<u8>(piece.second, 0));
}

// The base record of the file or folder at `path`.
void Builder::zeroRecordOf(const std::string& path) {
    Inode ni = openPath(path);
    const u64 record = ni->mft_no;
    closeInode(ni, path);
    zeroRecords(false, record, 1);
}

// Written back with the record as it is, which leaves the MFT bitmap as it was.
void Builder::clearInUse(const std::string& path) {
    Inode ni = openPath(path);
    ni->mrec->flags = static_cast<MFT_RECORD_FLAGS>(ni->mrec->flags & ~MFT_RECORD_IN_USE);
    ntfs_inode_mark_dirty(ni.get());
    closeInode(ni, path);
    unmount();
}

// Written back with the record as it is; nothing of the library reads the
// damaged attribute again.
void Builder::corruptAttribute(const std::string& path, ATTR_TYPES type, u64 offset,
                               const std::vector<u8>& bytes) {
    Inode ni = openPath(path);
    SearchCtx ctx = searchRecord(ni.get());
    if (ntfs_attr_lookup(type, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx.get()) != 0)
        fail(path + " has no such attribute in its record: " + systemError());
    Array attr = currentAttribute(ctx.get());
    if (!(offset <= attr.length() && bytes.size() <= attr.length() - offset))
        fail("the bytes do not fit in the attribute of " + path);
    attr.write(static_cast<u32>(offset), bytes.data(), static_cast<u32>(bytes.size()));
    ntfs_inode_mark_dirty(ni.get());
    ctx.reset();
    closeInode(ni, path);
    unmount();
}

void Builder::cutRuns(const std::string& path, u64 pairs) {
    Inode ni = openPath(path);
    SearchCtx ctx = searchRecord(ni.get());
    if (ntfs_attr_lookup(AT_DATA, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx.get()) != 0 ||
        !ctx->attr->non_resident)
        fail(path + " has no data stream of runs in its record");
    Array attr = currentAttribute(ctx.get());
    u32 at = attr.getLE16(L::ATTR_RUNLIST_OFFSET);
    for (u64 i = 0; i < pairs; ++i) {
        const u8 header = at < attr.length() ? attr.getU8(at) : 0;
        if (header == 0)
            fail(path + " has fewer than " + std::to_string(pairs + 1) + " runs");
        at += 1 + (header & 0x0F) + (header >> 4);
    }
    const u8 end = 0;
    attr.write(at, &end, 1);
    ntfs_inode_mark_dirty(ni.get());
    ctx.reset();
    closeInode(ni, path);
    unmount();
}

// The offset and length of the entry for `name` among the entries behind the
// index header at `header`, if there is one.
std::optional<std::pair<u32, u32>> findEntry(ConstArray block, u32 header, const UName& name) {
    try {
        u32 pos = header + block.getLE32(header + L::NODE_ENTRIES_OFFSET);
        u32 end = std::min<u64>(u64{header} + block.getLE32(header + L::NODE_ENTRIES_END),
                                block.length());
        while (pos < end && L::IE_KEY <= end - pos) {
            u32 length = block.getLE16(pos + L::IE_LENGTH);
            if ((block.getU8(pos + L::IE_FLAGS) & NTFS_INDEX_ENTRY_LAST) || length < L::IE_KEY ||
                length > end - pos)
                break;
            u32 keyLength = block.getLE16(pos + L::IE_KEY_LENGTH);
            if (keyLength >= L::FN_NAME && L::IE_KEY + keyLength <= length) {
                u32 key = pos + L::IE_KEY;
                u32 units = block.getU8(key + L::FN_NAME_LENGTH);
                bool same = units == name.length() && L::FN_NAME + 2 * units <= keyLength;
                for (u32 i = 0; same && i < units; ++i)
                    same = block.getLE16(key + L::FN_NAME + 2 * i) == le16_to_cpu(name.data()[i]);
                if (same)
                    return std::make_pair(pos, length);
            }
            pos += length;
        }
    } catch (const std::out_of_range&) {
        // A broken index holds no entry we could patch safely.
    }
    return std::nullopt;
}

// Patches the bytes in place; false when they do not fit inside the entry.
bool patchEntry(std::vector<u8>& block, std::pair<u32, u32> entry, u64 offset,
                const std::vector<u8>& bytes) {
    if (!(offset <= entry.second && bytes.size() <= entry.second - offset))
        return false;
    Array(block.data(), static_cast<u32>(block.size()))
        .write(static_cast<u32>(entry.first + offset), bytes.data(),
               static_cast<u32>(bytes.size()));
    return true;
}

// The first index block of the folder that holds the entry of `name`: where it
// lies in the index allocation, its bytes with the fix-ups applied, and the
// entry's offset and length in it.
struct HeldEntry {
    s64 pos = 0;
    std::vector<u8> block;
    std::pair<u32, u32> entry;
};

HeldEntry findBlock(ntfs_attr* alloc, u32 blockSize, const std::string& folder,
                    const std::string& leaf) {
    UName name(leaf);
    HeldEntry held;
    held.block.resize(blockSize);
    for (; held.pos + blockSize <= alloc->data_size; held.pos += blockSize) {
        if (ntfs_attr_mst_pread(alloc, held.pos, 1, blockSize, held.block.data()) != 1 ||
            std::memcmp(held.block.data(), "INDX", 4) != 0)
            continue;
        if (auto entry = findEntry(ConstArray(held.block.data(), blockSize), L::INDX_NODE, name)) {
            held.entry = *entry;
            return held;
        }
    }
    fail("there is no index entry for " + leaf + " in the blocks of " + folder);
}

// Through the library, so that the index blocks keep valid fix-ups: the damage
// is in the entry, nowhere else (or, with `wholeBlock`, the block holding the
// entry is all zeros). Only a folder with index blocks has the entry there; a
// folder of a few names keeps them in its record.
void Builder::damageIndex(const std::string& folder, const std::string& leaf, u64 offset,
                          const std::vector<u8>& bytes, bool wholeBlock) {
    Inode dir = openFolder(folder);
    Attr alloc(ntfs_attr_open(dir.get(), AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4));
    if (!alloc)
        fail("cannot open the index blocks of " + folder +
             " (a folder of a few names has none): " + systemError());
    const u32 blockSize = volume()->indx_record_size;
    HeldEntry held = findBlock(alloc.get(), blockSize, folder, leaf);
    if (wholeBlock) {
        const std::vector<u8> zeros(blockSize, 0);
        if (ntfs_attr_pwrite(alloc.get(), held.pos, blockSize, zeros.data()) != blockSize)
            fail("cannot zero an index block of " + folder + ": " + systemError());
    } else {
        if (!patchEntry(held.block, held.entry, offset, bytes))
            fail("the bytes do not fit inside the entry of " + leaf + " in " + folder);
        if (ntfs_attr_mst_pwrite(alloc.get(), held.pos, 1, blockSize, held.block.data()) != 1)
            fail("cannot write an index block of " + folder + ": " + systemError());
    }
    alloc.reset();
    closeInode(dir, folder);
    // The library must not read the damaged index again in this run.
    unmount();
}

using Args = std::vector<std::string>;

// A command's name, its number of arguments, and what it does.
struct Command {
    const char* name;
    std::size_t args;
    void (*run)(Builder&, const Args&);
};

const Command* Builder::command(const Args& c) {
    static const Command COMMANDS[] = {
        {"mkdir", 1, [](Builder& b, const Args& a) { b.mkdir(a[1]); }},
        {"write", 2, [](Builder& b, const Args& a) { b.writeFrom(a[1], a[2], false); }},
        {"compress", 2, [](Builder& b, const Args& a) { b.writeFrom(a[1], a[2], true); }},
        {"sparse", 3, [](Builder& b, const Args& a) { b.sparse(a[1], a[2], a[3]); }},
        {"fragment", 3,
         [](Builder& b, const Args& a) { b.fragment(a[1], a[2], parseNumber(a[3], "pieces")); }},
        {"files", 3,
         [](Builder& b, const Args& a) {
             b.files(a[1], parseNumber(a[2], "count"), parseNumber(a[3], "size"));
         }},
        {"dosname", 2, [](Builder& b, const Args& a) { b.dosName(a[1], a[2]); }},
        {"setmtime", 2,
         [](Builder& b, const Args& a) { b.setMtime(a[1], parseNumber(a[2], "time"), true); }},
        {"datatime", 2,
         [](Builder& b, const Args& a) { b.setMtime(a[1], parseNumber(a[2], "time"), false); }},
        {"link", 2, [](Builder& b, const Args& a) { b.link(a[1], a[2]); }},
        {"rm", 1, [](Builder& b, const Args& a) { b.remove(a[1], false); }},
        {"rmtree", 1, [](Builder& b, const Args& a) { b.removeTree(a[1]); }},
        {"zero-boot", 0, [](Builder& b, const Args&) { b.zeroBoot(); }},
        {"zero-mft0", 0, [](Builder& b, const Args&) { b.zeroRecords(false, 0, 1); }},
        {"zero-mirror0", 0, [](Builder& b, const Args&) { b.zeroRecords(true, 0, 1); }},
        {"zero-records", 2,
         [](Builder& b, const Args& a) {
             b.zeroRecords(false, parseNumber(a[1], "first"), parseNumber(a[2], "count"));
         }},
        {"zero-record", 1, [](Builder& b, const Args& a) { b.zeroRecordOf(a[1]); }},
        {"clear-inuse", 1, [](Builder& b, const Args& a) { b.clearInUse(a[1]); }},
        {"corrupt-data", 3,
         [](Builder& b, const Args& a) {
             b.corruptAttribute(a[1], AT_DATA, parseNumber(a[2], "offset"), parseHex(a[3]));
         }},
        {"corrupt-attr", 4,
         [](Builder& b, const Args& a) {
             b.corruptAttribute(a[1], static_cast<ATTR_TYPES>(parseNumber(a[2], "type")),
                                parseNumber(a[3], "offset"), parseHex(a[4]));
         }},
        {"cut-runs", 2,
         [](Builder& b, const Args& a) { b.cutRuns(a[1], parseNumber(a[2], "runs")); }},
        {"symlink", 2, [](Builder& b, const Args& a) { b.symlink(a[1], a[2]); }},
        {"corrupt-index", 4,
         [](Builder& b, const Args& a) {
             b.damageIndex(splitPath(a[1]).whole(), a[2], parseNumber(a[3], "offset"),
                           parseHex(a[4]), false);
         }},
        {"zero-index-block", 2,
         [](Builder& b, const Args& a) {
             b.damageIndex(splitPath(a[1]).whole(), a[2], 0, {}, true);
         }},
    };
    for (const Command& spec : COMMANDS) {
        if (!c.empty() && c[0] == spec.name) {
            if (c.size() != spec.args + 1)
                fail(c[0] + " takes " + std::to_string(spec.args) + " arguments, not " +
                     std::to_string(c.size() - 1));
            return &spec;
        }
    }
    fail("unknown command \"" + (c.empty() ? std::string() : c[0]) + "\"");
}

std::vector<Args> commandsFromScript(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        fail("cannot read script " + path);
    std::vector<Args> commands;
    for (std::string line; std::getline(in, line);) {
        if (line.empty())
            continue;
        Args fields;
        std::istringstream fs(line);
        std::string f;
        while (std::getline(fs, f, '\t'))
            fields.push_back(f);
        commands.push_back(fields);
    }
    return commands;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[2]) != "-f") {
        std::cerr << "usage: hbntfsbuild IMAGE -f SCRIPT\n";
        return 2;
    }
    // The library's own complaints say more than errno alone.
    ntfs_log_set_handler(ntfs_log_handler_stderr);
    std::size_t n = 0;
    std::vector<Args> commands;
    try {
        commands = commandsFromScript(argv[3]);
        for (n = 0; n < commands.size(); ++n)
            Builder::command(commands[n]);
        Builder builder(argv[1]);
        for (n = 0; n < commands.size(); ++n)
            Builder::command(commands[n])->run(builder, commands[n]);
        builder.finish();
    } catch (const std::exception& e) {
        std::cerr << "hbntfsbuild: ";
        for (std::size_t i = 0; n < commands.size() && i < commands[n].size(); ++i)
            std::cerr << (i ? " " : "command " + std::to_string(n + 1) + " (") << commands[n][i];
        std::cerr << (n < commands.size() ? "): " : "") << e.what() << '\n';
        return 1;
    }
    return 0;
}
