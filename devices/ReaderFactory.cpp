#include "devices/ReaderFactory.h"

#include "core/Config.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"
#include "core/UserInterface.h"
#include "devices/BlockDeviceReader.h"
#include "devices/DtReaderFile.h"
#include "devices/DtReaderJBOD.h"
#include "devices/DtReaderRAID5.h"
#include "devices/DtReaderRange.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

namespace {

LeafOpener& currentLeafOpener() {
    static LeafOpener opener;
    return opener;
}

std::unique_ptr<dt::Reader> openRealLeaf(LeafKind kind, const char* path) {
    if (kind == LeafKind::DEVICE) {
        auto device = std::make_unique<dt::BlockDeviceReader>();
        if (device->open(path, true))
            return device;
        return nullptr;
    }
    auto file = std::make_unique<dt::ReaderFile>();
    if (file->open(path))
        return file;
    return nullptr;
}

std::unique_ptr<dt::Reader> openLeaf(LeafKind kind, const char* path, const char* id,
                                     FrTreeInterface* ui) {
    // A copy: an opener may replace itself.
    LeafOpener opener = currentLeafOpener();
    std::unique_ptr<dt::Reader> reader = opener ? opener(kind, path) : openRealLeaf(kind, path);
    if (!reader) {
        const std::string reason = formatMessage(_("invalid file: %1"), path);
        reportReaderError(id, reason.c_str(), ui);
    }
    return reader;
}

bool isDeviceType(const std::string& type) {
    return type == "drive" || type == "partition" || type == "floppy";
}

// One build of a chain. Components already built at the same level are shared
// instead of being built again: a member named k times on each of ten levels
// would otherwise be opened k^10 times.
class ChainBuilder {
public:
    ChainBuilder(const std::vector<std::string>& known, FrTreeInterface* ui)
        : known_(known), ui_(ui) {}

    std::unique_ptr<dt::Reader> fromDescr(const char* descriptor, int depth);
    std::unique_ptr<dt::Reader> component(const char* id, int depth);
    // `owner` is the id of the driver the list belongs to, named when a
    // component is missing.
    bool components(const std::string& owner, const std::string& text, dt::ReaderList& out,
                    int depth);

private:
    std::unique_ptr<dt::Reader> composed(const char* descriptor, const std::string& id,
                                         const std::string& type, int depth);

    const std::vector<std::string>& known_;
    FrTreeInterface* ui_;
    std::map<std::pair<std::string, int>, SharedPtr<dt::Reader>> built_;
};

std::unique_ptr<dt::Reader> ChainBuilder::fromDescr(const char* descriptor, int depth) {
    if (descriptor == nullptr)
        descriptor = "";
    std::string id;
    getDescrValue(descriptor, "id", id);
    if (depth >= MAX_READER_DEPTH) {
        reportReaderError(id.c_str(), _("invalid depth"), ui_);
        return nullptr;
    }
    std::string type;
    getDescrValue(descriptor, "type", type);
    if (isDeviceType(type))
        return openDeviceReader(id.c_str(), id.c_str(), ui_);
    if (type == "file")
        return openFileReader(id.c_str(), id.c_str(), ui_);
    if (type == "range" || type == "jbod" || type == "raid0" || type == "raid5")
        return composed(descriptor, id, type, depth);
    reportReaderError(id.c_str(), _("invalid type"), ui_);
    return nullptr;
}

std::unique_ptr<dt::Reader> ChainBuilder::composed(const char* descriptor, const std::string& id,
                                                   const std::string& type, int depth) {
    std::string text;
    getDescrValue(descriptor, "components", text);
    dt::ReaderList list;
    if (!components(id, text, list, depth + 1))
        return nullptr;

    auto number = [descriptor](const char* key) {
        std::string value;
        getDescrValue(descriptor, key, value);
        return descriptorNumber(value);
    };
    if (type == "range") {
        if (list.size() != 1) {
            reportWrongComponentCount(id.c_str(), ui_);
            return nullptr;
        }
        auto range = std::make_unique<dt::ReaderRange>();
        // Negative values fail here like values past the component's end.
        if (!range->init(list[0], number("rangeOffset"), number("rangeSize"))) {
            reportReaderError(id.c_str(), _("invalid offset/size"), ui_);
            return nullptr;
        }
        return range;
    }

    // The lists reaching here hold at least one member: a JBOD fails only
    // when its total size does not fit in 63 bits.
    if (type == "jbod") {
        auto jbod = std::make_unique<dt::ReaderJBOD>();
        if (!jbod->init(list)) {
            reportReaderError(id.c_str(), _("invalid offset/size"), ui_);
            return nullptr;
        }
        return jbod;
    }
    const bool raid5 = type == "raid5";
    std::unique_ptr<dt::ReaderStriped> raid;
    if (raid5)
        raid = std::make_unique<dt::ReaderRAID5>();
    else
        raid = std::make_unique<dt::ReaderRAID0>();
    if (!raid->init(list, number("blockSize"))) {
        if (list.size() < (raid5 ? 2u : 1u))
            reportWrongComponentCount(id.c_str(), ui_);
        else
            reportReaderError(id.c_str(), _("invalid offset/size"), ui_);
        return nullptr;
    }
    return raid;
}

std::unique_ptr<dt::Reader> ChainBuilder::component(const char* id, int depth) {
    std::string value;
    for (const std::string& descriptor : known_) {
        if (getDescrValue(descriptor.c_str(), "id", value) && value == id)
            return fromDescr(descriptor.c_str(), depth);
    }
    return openFileReader(id, id, ui_);
}

bool ChainBuilder::components(const std::string& owner, const std::string& text,
                              dt::ReaderList& out, int depth) {
    std::vector<std::string> pieces;
    split(text, pieces, ',');
    for (const std::string& piece : pieces) {
        const std::string id = trim(piece, " \t");
        if (id.empty()) {
            reportReaderError(owner.c_str(), _("empty component"), ui_);
            return false;
        }
        const auto key = std::make_pair(id, depth);
        auto found = built_.find(key);
        if (found != built_.end()) {
            out.push_back(found->second);
            continue;
        }
        std::unique_ptr<dt::Reader> reader = component(id.c_str(), depth);
        if (!reader)
            return false;
        SharedPtr<dt::Reader> shared(reader.release());
        built_.emplace(key, shared);
        out.push_back(shared);
    }
    return true;
}

} // namespace

std::unique_ptr<dt::Reader> createReaderFromDescr(const std::vector<std::string>& known,
                                                  const char* descriptor, FrTreeInterface* ui,
                                                  int depth) {
    return ChainBuilder(known, ui).fromDescr(descriptor, depth);
}

std::unique_ptr<dt::Reader> createComponentReader(const std::vector<std::string>& known,
                                                  const char* id, FrTreeInterface* ui, int depth) {
    return ChainBuilder(known, ui).component(id ? id : "", depth);
}

bool parseComponents(const std::vector<std::string>& known, const std::string& components,
                     dt::ReaderList& out, FrTreeInterface* ui, int depth) {
    return ChainBuilder(known, ui).components(std::string(), components, out, depth);
}

std::unique_ptr<dt::Reader> openDeviceReader(const char* path, const char* id,
                                             FrTreeInterface* ui) {
    return openLeaf(LeafKind::DEVICE, path, id, ui);
}

std::unique_ptr<dt::Reader> openFileReader(const char* path, const char* id, FrTreeInterface* ui) {
    return openLeaf(LeafKind::FILE, path, id, ui);
}

void reportReaderError(const char* id, const char* reason, FrTreeInterface* ui) {
    std::string text = formatMessage(_("Cannot initialize %1"), id);
    if (reason != nullptr && *reason != '\0')
        text += std::string("\n(") + reason + ")";
    logAt("ReaderFactory", 219) << ": " << (id ? id : "") << ' ' << (reason ? reason : "") << '\n';
    static HeadlessInterface headless;
    (ui ? ui : &headless)->message(false, text.c_str(), false, nullptr);
}

void reportWrongComponentCount(const char* id, FrTreeInterface* ui) {
    reportReaderError(id, _("wrong number of components"), ui);
}

i64 descriptorNumber(const std::string& text) {
    // strtoll reads exactly that form and stops at the 63-bit limits.
    return static_cast<i64>(std::strtoll(text.c_str(), nullptr, 10));
}

LeafOpener setLeafOpener(LeafOpener opener) {
    LeafOpener previous = std::move(currentLeafOpener());
    currentLeafOpener() = std::move(opener);
    return previous;
}
