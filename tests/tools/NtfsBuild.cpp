// hbntfsbuild: fills an NTFS volume image made by `mkntfs -F -Q` with what the
// NTFS engine's tests need, through libntfs-3g, and damages it at named places.
//
//   hbntfsbuild IMAGE -f SCRIPT
//
// IMAGE is the volume itself (a file, no partition table). In the SCRIPT every
// line is one command with its arguments separated by tabs; blank lines and
// lines that begin with '#' are skipped. Paths inside the volume are absolute,
// '/'-separated UTF-8; names may be up to 255 UTF-16 units. DATAFILE is a host
// file whose bytes the new file gets.
//
// Building (libntfs-3g):
//   mkdir PATH                      a folder
//   write PATH DATAFILE             a file (small ones stay resident in the record); in a
//                                   compressed folder (mkntfs -C) it is compressed too
//   compress PATH DATAFILE          a compressed file (clusters of 4096 bytes or less)
//   sparse PATH DATAFILE HOLES      a sparse file; HOLES is OFFSET:LENGTH[,OFFSET:LENGTH...],
//                                   cluster-aligned (a hole may end at the end of the file),
//                                   left unallocated; DATAFILE must hold zeros there
//   fragment PATH DATAFILE PIECES   a file in at least PIECES runs apart on the volume
//                                   (sparse and fragment files are never compressed)
//   files FOLDER COUNT SIZE         COUNT files f000001, f000002, ... of SIZE bytes, each
//                                   its own name repeated
//   dosname PATH SHORTNAME          gives a file or folder an 8.3 DOS name besides its own
//   setmtime PATH UNIX_SECONDS      sets the modification time (in $STANDARD_INFORMATION,
//                                   the record's $FILE_NAME attributes and the folder's index)
//   rm PATH                         deletes a file (its record stays, not in use)
//   rmdir PATH                      deletes an empty folder
//   rmtree PATH                     deletes a folder and everything in it, deepest first
// A deleted file's record is free again: what is made after it may take it, so
// the deletions come last when the deleted files matter.
// Damage (straight to the image, after libntfs-3g has let go of it):
//   zero-boot                       zeroes the boot sector
//   zero-mft0                       zeroes record 0 of the MFT (found through the boot sector)
//   zero-mirror0                    zeroes record 0 of the MFT mirror
//   clear-inuse PATH|RECORD         clears the in-use flag of a record (the MFT bitmap keeps it)
//   corrupt-index FOLDER NAME OFFSET HEX
//                                   overwrites the bytes of FOLDER's index entry for NAME at
//                                   OFFSET within the entry (0: file reference, 8: entry
//                                   length, 10: key length, 12: flags, 16: key)
//
// With SOURCE_DATE_EPOCH set, everything made gets that time, and so do the
// folders it goes into, so that images come out the same every time. Any failure
// prints what failed and why and exits with 1; a script it cannot take, with 2.

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

// Copies of the host file go through the volume in pieces of this size.
constexpr u64 COPY_PIECE = 1 << 20;
// libntfs-3g compresses only on volumes with clusters up to this size.
constexpr u32 MAX_COMPRESSION_CLUSTER = 4096;
// Enough for a file whose runs spill into extension records many times over.
constexpr u64 MAX_PIECES = 100000;
// The files of `files` are made in memory.
constexpr u64 MAX_FILES_SIZE = 1 << 20;

namespace L = ntfslayout;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::string systemError() {
    return std::strerror(errno);
}

u64 parseNumber(const std::string& text, const char* what) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(std::string(what) + " \"" + text + "\" is not a number");
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        throw UsageError(std::string(what) + " \"" + text + "\" is too large");
    return v;
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
        throw UsageError("path \"" + path + "\" does not begin with '/'");
    std::vector<std::string> parts;
    std::istringstream in(path);
    std::string part;
    while (std::getline(in, part, '/')) {
        if (part.empty())
            continue;
        if (part == "." || part == "..")
            throw UsageError("path \"" + path + "\" holds \".\" or \"..\"");
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

// ---- The host side ----

std::vector<u8> readBytes(std::ifstream& in, u64 offset, u64 n, const std::string& name) {
    std::vector<u8> bytes(n);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
    if (static_cast<u64>(in.gcount()) != n)
        fail("cannot read " + std::to_string(n) + " bytes at " + std::to_string(offset) + " of " +
             name);
    return bytes;
}

class HostFile {
public:
    explicit HostFile(const std::string& path) : path_(path), in_(path, std::ios::binary) {
        struct stat st {};
        if (!in_ || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            fail("cannot read data file " + path);
        size_ = static_cast<u64>(st.st_size);
    }
    u64 size() const { return size_; }
    const std::string& path() const { return path_; }

    std::vector<u8> read(u64 offset, u64 n) { return readBytes(in_, offset, n, path_); }

private:
    std::string path_;
    std::ifstream in_;
    u64 size_ = 0;
};

// A run of bytes of a file: [offset, offset + length).
struct Range {
    u64 offset = 0;
    u64 length = 0;
};

// ---- Raw access to the image, for the damage ----

std::vector<u8> rawRead(const std::string& image, u64 offset, u64 n) {
    std::ifstream in(image, std::ios::binary);
    return readBytes(in, offset, n, image);
}

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

bool isPowerOfTwo(u64 v) {
    return v != 0 && (v & (v - 1)) == 0;
}

std::vector<u8> parseHex(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError("\"" + text + "\" is not an even number of hex digits");
    std::vector<u8> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<u8>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

// OFFSET:LENGTH[,OFFSET:LENGTH...], sorted, not overlapping, inside the file.
std::vector<Range> parseHoles(const std::string& text, u64 fileSize) {
    std::vector<Range> holes;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        std::size_t colon = item.find(':');
        if (colon == std::string::npos)
            throw UsageError("hole \"" + item + "\" is not OFFSET:LENGTH");
        Range r{parseNumber(item.substr(0, colon), "hole offset"),
                parseNumber(item.substr(colon + 1), "hole length")};
        if (r.length == 0 || !(r.offset <= fileSize && r.length <= fileSize - r.offset))
            throw UsageError("hole \"" + item + "\" is empty or not inside the file's " +
                             std::to_string(fileSize) + " bytes");
        holes.push_back(r);
    }
    std::sort(holes.begin(), holes.end(),
              [](const Range& a, const Range& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < holes.size(); ++i) {
        if (holes[i].offset < holes[i - 1].offset + holes[i - 1].length)
            throw UsageError("holes overlap at " + std::to_string(holes[i].offset));
    }
    return holes;
}

// ---- The session ----

class Builder {
public:
    explicit Builder(std::string image) : image_(std::move(image)) {
        if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
            struct timespec ts {};
            ts.tv_sec = static_cast<time_t>(parseNumber(epoch, "SOURCE_DATE_EPOCH"));
            epoch_ = timespec2ntfs(ts);
        }
    }
    ~Builder() {
        // Only after a failure: the image is scrap then, but the library still
        // gets to write back what it holds.
        if (vol_)
            ntfs_umount(vol_, TRUE);
    }
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    void execute(const std::vector<std::string>& c);
    void finish() { unmount(); }

private:
    ntfs_volume* volume();
    void unmount();

    Inode openPath(const std::string& path);
    Inode openFolder(const std::string& path);
    void stamp(ntfs_inode* ni);
    void stampFolder(const std::string& folder);

    // A new file or folder; the folder it went into stays open for the close.
    struct Made {
        Inode dir;
        Inode ni;
    };
    Made make(const std::string& path, mode_t type);
    void finishMade(Made& m, const std::string& path);
    Attr openData(ntfs_inode* ni, const std::string& path);
    void copy(ntfs_attr* na, HostFile& host, const Range& r, const std::string& path);
    void writeFrom(const std::string& path, const std::string& dataFile);

    void mkdir(const std::string& path);
    void setCompressed(ntfs_inode* ni, bool on, const std::string& path);
    void compress(const std::string& path, const std::string& dataFile);
    void sparse(const std::string& path, const std::string& dataFile, const std::string& holes);
    void fragment(const std::string& path, const std::string& dataFile, u64 pieces);
    void files(const std::string& folder, u64 count, u64 size);
    void dosName(const std::string& path, const std::string& shortName);
    void setMtime(const std::string& path, u64 seconds);
    void remove(const std::string& path, bool folder);
    void removeTree(const std::string& path);

    // What the damage needs of the volume, read while it was whole.
    struct Geometry {
        u64 sectorBytes = 0;
        u64 clusterBytes = 0;
        u64 mftLcn = 0;
        u64 mirrorLcn = 0;
        u64 recordBytes = 0;
    };
    const Geometry& geometry();
    void zeroRecord0(bool mirror);
    void zeroBoot();
    void clearInUse(const std::string& which);
    void corruptIndex(const std::string& folder, const std::string& name, u64 offset,
                      const std::vector<u8>& bytes);

    std::string image_;
    ntfs_volume* vol_ = nullptr;
    std::optional<ntfs_time> epoch_;
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
    if (!epoch_)
        return;
    ni->creation_time = *epoch_;
    ni->last_data_change_time = *epoch_;
    ni->last_mft_change_time = *epoch_;
    ni->last_access_time = *epoch_;
    syncNameTimes(ni);
}

// Making or deleting something in a folder moves the folder's times; with a
// fixed epoch they are put back.
void Builder::stampFolder(const std::string& folder) {
    if (!epoch_)
        return;
    Inode dir = openFolder(folder);
    stamp(dir.get());
    closeInode(dir, folder);
}

Builder::Made Builder::make(const std::string& path, mode_t type) {
    VolumePath vp = splitPath(path);
    if (vp.leaf.empty())
        throw UsageError("cannot make the root folder");
    Made m;
    m.dir = openFolder(vp.parent);
    UName name(vp.leaf);
    if (ntfs_inode_lookup_by_name(m.dir.get(), name.data(), name.length()) != static_cast<u64>(-1))
        fail(vp.whole() + " exists already");
    m.ni.reset(ntfs_create(m.dir.get(), const_cpu_to_le32(0), name.data(), name.length(), type));
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

void Builder::copy(ntfs_attr* na, HostFile& host, const Range& r, const std::string& path) {
    u64 done = 0;
    while (done < r.length) {
        u64 n = std::min(COPY_PIECE, r.length - done);
        std::vector<u8> piece = host.read(r.offset + done, n);
        u64 at = 0;
        while (at < n) {
            s64 wrote = ntfs_attr_pwrite(na, static_cast<s64>(r.offset + done + at),
                                         static_cast<s64>(n - at), piece.data() + at);
            if (wrote <= 0)
                fail("cannot write " + path + " at " + std::to_string(r.offset + done + at) + ": " +
                     (wrote < 0 ? systemError() : "nothing written"));
            at += static_cast<u64>(wrote);
        }
        done += n;
    }
}

// A compressed attribute holds its last compression block back until this.
void finishData(ntfs_attr* na, const std::string& path) {
    if ((na->data_flags & ATTR_COMPRESSION_MASK) && ntfs_attr_pclose(na) != 0)
        fail("cannot finish compressing " + path + ": " + systemError());
}

void Builder::writeFrom(const std::string& path, const std::string& dataFile) {
    HostFile host(dataFile);
    Made m = make(path, S_IFREG);
    {
        Attr na = openData(m.ni.get(), path);
        copy(na.get(), host, Range{0, host.size()}, path);
        finishData(na.get(), path);
    }
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

void Builder::compress(const std::string& path, const std::string& dataFile) {
    if (volume()->cluster_size > MAX_COMPRESSION_CLUSTER)
        fail("cannot compress " + path + ": the volume's clusters of " +
             std::to_string(volume()->cluster_size) + " bytes are too large for compression");
    HostFile host(dataFile);
    Made m = make(path, S_IFREG);
    setCompressed(m.ni.get(), true, path);
    {
        Attr na = openData(m.ni.get(), path);
        copy(na.get(), host, Range{0, host.size()}, path);
        finishData(na.get(), path);
        if (!(na->data_flags & ATTR_IS_COMPRESSED))
            fail(path + " did not come out compressed");
    }
    finishMade(m, path);
}

void Builder::sparse(const std::string& path, const std::string& dataFile,
                     const std::string& holeText) {
    HostFile host(dataFile);
    std::vector<Range> holes = parseHoles(holeText, host.size());
    u64 cluster = volume()->cluster_size;
    for (const Range& h : holes) {
        u64 end = h.offset + h.length;
        if (h.offset % cluster != 0 || (end % cluster != 0 && end != host.size()))
            throw UsageError("hole " + std::to_string(h.offset) + ":" + std::to_string(h.length) +
                             " is not aligned to the clusters of " + std::to_string(cluster) +
                             " bytes");
        for (u64 at = 0; at < h.length; at += COPY_PIECE) {
            std::vector<u8> bytes = host.read(h.offset + at, std::min(COPY_PIECE, h.length - at));
            if (std::any_of(bytes.begin(), bytes.end(), [](u8 b) { return b != 0; }))
                fail(dataFile + " holds data inside the hole at " + std::to_string(h.offset));
        }
    }
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
    HostFile host(dataFile);
    u64 cluster = vol->cluster_size;
    u64 clusters = (host.size() + cluster - 1) / cluster;
    if (pieces > MAX_PIECES)
        throw UsageError("at most " + std::to_string(MAX_PIECES) + " pieces");
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
        throw UsageError("at most 999999 files at once");
    if (size > MAX_FILES_SIZE)
        throw UsageError("files of at most " + std::to_string(MAX_FILES_SIZE) + " bytes");
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
    if (vp.leaf.empty())
        throw UsageError("the root folder has no DOS name");
    Inode dir = openFolder(vp.parent);
    Inode ni(ntfs_pathname_to_inode(volume(), dir.get(), vp.leaf.c_str()));
    if (!ni)
        fail("cannot find " + vp.whole() + ": " + systemError());
    // The library closes both inodes, whatever comes of it.
    int r =
        ntfs_set_ntfs_dos_name(ni.release(), dir.release(), shortName.data(), shortName.size(), 0);
    if (r != 0)
        fail("cannot give " + vp.whole() + " the DOS name " + shortName + ": " + systemError());
    if (epoch_) {
        // The names were made anew, with the time of now.
        dir = openFolder(vp.parent);
        ni.reset(ntfs_pathname_to_inode(volume(), dir.get(), vp.leaf.c_str()));
        if (!ni)
            fail("cannot find " + vp.whole() + ": " + systemError());
        syncNameTimes(ni.get());
        closeInodeInDir(ni, dir, vp.whole());
        stamp(dir.get());
        closeInode(dir, vp.parent);
    }
}

void Builder::setMtime(const std::string& path, u64 seconds) {
    VolumePath vp = splitPath(path);
    Inode dir;
    Inode ni;
    if (vp.leaf.empty()) {
        ni = openPath("/");
    } else {
        dir = openFolder(vp.parent);
        ni.reset(ntfs_pathname_to_inode(volume(), dir.get(), vp.leaf.c_str()));
        if (!ni)
            fail("cannot find " + vp.whole() + ": " + systemError());
    }
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ni->last_data_change_time = timespec2ntfs(ts);
    syncNameTimes(ni.get());
    if (dir)
        closeInodeInDir(ni, dir, vp.whole());
    closeInode(ni, vp.whole());
    closeInode(dir, vp.parent);
}

void Builder::remove(const std::string& path, bool folder) {
    VolumePath vp = splitPath(path);
    if (vp.leaf.empty())
        throw UsageError("cannot delete the root folder");
    Inode dir = openFolder(vp.parent);
    UName name(vp.leaf);
    Inode ni(ntfs_pathname_to_inode(volume(), dir.get(), vp.leaf.c_str()));
    if (!ni)
        fail("cannot find " + vp.whole() + ": " + systemError());
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
        throw UsageError("cannot delete the root folder");
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
        geometry_ = Geometry{v->sector_size, v->cluster_size, static_cast<u64>(v->mft_lcn),
                             static_cast<u64>(v->mftmirr_lcn), v->mft_record_size};
    }
    return *geometry_;
}

void Builder::zeroBoot() {
    const u64 bytes = geometry().sectorBytes;
    unmount();
    rawWrite(image_, 0, std::vector<u8>(bytes, 0));
}

void Builder::zeroRecord0(bool mirror) {
    const Geometry& g = geometry();
    unmount();
    rawWrite(image_, (mirror ? g.mirrorLcn : g.mftLcn) * g.clusterBytes,
             std::vector<u8>(g.recordBytes, 0));
}

void Builder::clearInUse(const std::string& which) {
    ntfs_volume* vol = volume();
    u64 record = 0;
    if (!which.empty() && which[0] == '/') {
        Inode ni = openPath(which);
        record = ni->mft_no;
        closeInode(ni, which);
    } else {
        record = parseNumber(which, "record");
    }
    u64 recordBytes = vol->mft_record_size;
    u64 records = static_cast<u64>(vol->mft_na->initialized_size) / recordBytes;
    if (record >= records)
        fail("record " + std::to_string(record) + " is past the MFT's " + std::to_string(records) +
             " records");
    // The record's first cluster through the MFT's own runs; the flags lie in its
    // first sector, so a record split over two runs does not matter here.
    u64 byte = record * recordBytes;
    LCN lcn = ntfs_attr_vcn_to_lcn(vol->mft_na, static_cast<VCN>(byte / vol->cluster_size));
    if (lcn < 0)
        fail("cannot find record " + std::to_string(record) + " on the volume");
    u64 offset = static_cast<u64>(lcn) * vol->cluster_size + byte % vol->cluster_size;
    unmount();
    std::vector<u8> head = rawRead(image_, offset, L::FILE_FLAGS + 2);
    Array h(head.data(), static_cast<u32>(head.size()));
    if (h.getLE32(L::REC_MAGIC) != NTFS_MAGIC_FILE)
        fail("record " + std::to_string(record) + " is not a FILE record");
    u16 flags = h.getLE16(L::FILE_FLAGS);
    if (!(flags & NTFS_RECORD_IN_USE))
        fail("record " + std::to_string(record) + " is not in use");
    h.setLE16(L::FILE_FLAGS, static_cast<u16>(flags & ~NTFS_RECORD_IN_USE));
    rawWrite(image_, offset + L::FILE_FLAGS, {head[L::FILE_FLAGS], head[L::FILE_FLAGS + 1]});
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

// Through the library, so that the index root's record and the index blocks
// keep valid fix-ups: the damage is in the entry, nowhere else.
void Builder::corruptIndex(const std::string& folder, const std::string& leaf, u64 offset,
                           const std::vector<u8>& bytes) {
    std::string what = "the entry of " + leaf + " in " + folder;
    Inode dir = openFolder(folder);
    UName name(leaf);
    u32 blockSize = 0;
    bool done = false;
    {
        Attr root(ntfs_attr_open(dir.get(), AT_INDEX_ROOT, NTFS_INDEX_I30, 4));
        if (!root)
            fail("cannot open the index root of " + folder + ": " + systemError());
        std::vector<u8> value(static_cast<std::size_t>(root->data_size));
        if (ntfs_attr_pread(root.get(), 0, root->data_size, value.data()) != root->data_size)
            fail("cannot read the index root of " + folder + ": " + systemError());
        ConstArray view(value.data(), static_cast<u32>(value.size()));
        blockSize = view.getLE32(L::IR_BLOCK_SIZE);
        if (auto entry = findEntry(view, L::IR_NODE, name)) {
            if (!patchEntry(value, *entry, offset, bytes))
                fail("the bytes do not fit inside " + what);
            if (ntfs_attr_pwrite(root.get(), 0, root->data_size, value.data()) != root->data_size)
                fail("cannot write the index root of " + folder + ": " + systemError());
            done = true;
        }
    }
    if (!done && blockSize >= 512 && blockSize <= 65536 && isPowerOfTwo(blockSize) &&
        ntfs_attr_exist(dir.get(), AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)) {
        Attr alloc(ntfs_attr_open(dir.get(), AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4));
        if (!alloc)
            fail("cannot open the index blocks of " + folder + ": " + systemError());
        std::vector<u8> block(blockSize);
        for (s64 pos = 0; !done && pos + blockSize <= alloc->data_size; pos += blockSize) {
            if (ntfs_attr_mst_pread(alloc.get(), pos, 1, blockSize, block.data()) != 1 ||
                std::memcmp(block.data(), "INDX", 4) != 0)
                continue;
            auto entry = findEntry(ConstArray(block.data(), blockSize), L::INDX_NODE, name);
            if (!entry)
                continue;
            if (!patchEntry(block, *entry, offset, bytes))
                fail("the bytes do not fit inside " + what);
            if (ntfs_attr_mst_pwrite(alloc.get(), pos, 1, blockSize, block.data()) != 1)
                fail("cannot write an index block of " + folder + ": " + systemError());
            done = true;
        }
    }
    if (!done)
        fail("there is no index entry for " + leaf + " in " + folder);
    closeInode(dir, folder);
    // The library must not read the damaged index again in this run.
    unmount();
}

struct CommandSpec {
    const char* name;
    std::size_t args;
};

constexpr CommandSpec COMMANDS[] = {
    {"mkdir", 1},     {"write", 2},        {"compress", 2},    {"sparse", 3},
    {"fragment", 3},  {"files", 3},        {"dosname", 2},     {"setmtime", 2},
    {"rm", 1},        {"rmdir", 1},        {"rmtree", 1},      {"zero-boot", 0},
    {"zero-mft0", 0}, {"zero-mirror0", 0}, {"clear-inuse", 1}, {"corrupt-index", 4},
};

// Every command is checked before the first one runs, so that a typing error
// does not leave a half-built image.
void checkCommand(const std::vector<std::string>& c) {
    if (c.empty() || c[0].empty())
        throw UsageError("empty command");
    for (const CommandSpec& spec : COMMANDS) {
        if (c[0] != spec.name)
            continue;
        if (c.size() != spec.args + 1)
            throw UsageError(c[0] + " takes " + std::to_string(spec.args) + " argument" +
                             (spec.args == 1 ? "" : "s") + ", not " + std::to_string(c.size() - 1));
        return;
    }
    throw UsageError("unknown command \"" + c[0] + "\"");
}

void Builder::execute(const std::vector<std::string>& c) {
    const std::string& name = c.at(0);
    if (name == "mkdir") {
        mkdir(c[1]);
    } else if (name == "write") {
        writeFrom(c[1], c[2]);
    } else if (name == "compress") {
        compress(c[1], c[2]);
    } else if (name == "sparse") {
        sparse(c[1], c[2], c[3]);
    } else if (name == "fragment") {
        fragment(c[1], c[2], parseNumber(c[3], "pieces"));
    } else if (name == "files") {
        files(c[1], parseNumber(c[2], "count"), parseNumber(c[3], "size"));
    } else if (name == "dosname") {
        dosName(c[1], c[2]);
    } else if (name == "setmtime") {
        setMtime(c[1], parseNumber(c[2], "time"));
    } else if (name == "rm") {
        remove(c[1], false);
    } else if (name == "rmdir") {
        remove(c[1], true);
    } else if (name == "rmtree") {
        removeTree(c[1]);
    } else if (name == "zero-boot") {
        zeroBoot();
    } else if (name == "zero-mft0") {
        zeroRecord0(false);
    } else if (name == "zero-mirror0") {
        zeroRecord0(true);
    } else if (name == "clear-inuse") {
        clearInUse(c[1]);
    } else if (name == "corrupt-index") {
        corruptIndex(splitPath(c[1]).whole(), c[2], parseNumber(c[3], "offset"), parseHex(c[4]));
    } else {
        throw UsageError("unknown command \"" + name + "\"");
    }
}

std::vector<std::vector<std::string>> commandsFromScript(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw UsageError("cannot read script " + path);
    std::vector<std::vector<std::string>> commands;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream fs(line);
        std::string f;
        while (std::getline(fs, f, '\t'))
            fields.push_back(f);
        commands.push_back(fields);
    }
    return commands;
}

std::string describe(const std::vector<std::string>& c) {
    std::string s;
    for (const std::string& a : c)
        s += (s.empty() ? "" : " ") + a;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[2]) != "-f") {
        std::cerr << "usage: hbntfsbuild IMAGE -f SCRIPT\n";
        return 2;
    }
    // The library's own complaints say more than errno alone.
    ntfs_log_set_handler(ntfs_log_handler_stderr);
    std::vector<std::vector<std::string>> commands;
    try {
        commands = commandsFromScript(argv[3]);
        for (std::size_t i = 0; i < commands.size(); ++i) {
            try {
                checkCommand(commands[i]);
            } catch (const UsageError& e) {
                throw UsageError("command " + std::to_string(i + 1) + " (" + describe(commands[i]) +
                                 "): " + e.what());
            }
        }
    } catch (const UsageError& e) {
        std::cerr << "hbntfsbuild: " << e.what() << '\n';
        return 2;
    }
    std::size_t n = 0;
    try {
        Builder builder(argv[1]);
        for (n = 0; n < commands.size(); ++n)
            builder.execute(commands[n]);
        builder.finish();
    } catch (const UsageError& e) {
        std::cerr << "hbntfsbuild: ";
        if (n < commands.size())
            std::cerr << "command " << n + 1 << " (" << describe(commands[n]) << "): ";
        std::cerr << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "hbntfsbuild: ";
        if (n < commands.size())
            std::cerr << "command " << n + 1 << " (" << describe(commands[n]) << "): ";
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
