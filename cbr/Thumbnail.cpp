#include "cbr/Thumbnail.h"

#include "cbr/FileInfo.h"
#include "core/Checked.h"

#include <cstring>
#include <glib.h>

namespace cbr {

bool Thumbnail::isComplete() const {
    return offset != UNSET && size != UNSET && width != UNSET && height != UNSET &&
           bitsPerSample != UNSET && samples != UNSET && compression != UNSET;
}

u64 Thumbnail::pixelBytes() const {
    // Four u32 factors can pass 64 bits; such a picture is inconsistent anyway,
    // so a saturated count that never equals a u32 size is enough.
    const u64 bits = saturatingMul(saturatingMul(area(), samples), bitsPerSample);
    return bits == ~u64(0) ? bits : ceilDiv(bits, 8);
}

bool Thumbnail::isInconsistent() const {
    if (compression != PLANAR && compression != UNCOMPRESSED)
        return false;
    if (samples != 1 && samples != 3)
        return true;
    if (size != pixelBytes())
        return true;
    if (compression == UNCOMPRESSED)
        return bitsPerSample != 8 && bitsPerSample != 16;
    return bitsPerSample != 8;
}

void Thumbnail::storeIn(FileInfo& info) const {
    Attributes& a = info.getAttributes();
    a.setUInt32("thumbnail_offset", offset);
    a.setUInt32("thumbnail_size", size);
    a.setUInt32("thumbnail_compression", compression);
    a.setUInt32("thumbnail_width", width);
    a.setUInt32("thumbnail_height", height);
    a.setUInt32("thumbnail_bits_per_sample", bitsPerSample);
    a.setUInt32("thumbnail_samples", samples);
}

namespace {

bool startsWithNoCase(const char* text, const char* prefix) {
    return g_ascii_strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

constexpr u32 EXACT = 1;

struct ModelRow {
    u32 flags;
    const char* model;
    const char* extension;
};

// Some makers used several raw formats over the years; the model tells which.
constexpr ModelRow EASTMAN_KODAK_MODELS[] = {
    {0, "KODAK DC20 DIGITAL CAMERA", "k25"},
    {0, "KODAK DC25 DIGITAL CAMERA", "k25"},
    {0, "Digital Camera 40", "kdc"},
    {0, "Kodak Digital Science DC50 Zoom Camera", "kdc"},
    {0, "Kodak DC120 ZOOM Digital Camera", "kdc"},
};
constexpr ModelRow KODAK_MODELS[] = {
    {0, "DCS315C", "tif"},  {0, "DCS330C", "tif"}, {0, "DCS420", "tif"},  {0, "DCS460A", "tif"},
    {0, "DCS460", "tif"},   {0, "DCS520C", "tif"}, {0, "DCS560C", "tif"}, {0, "DCS620C", "tif"},
    {0, "DCS620X", "tif"},  {0, "DCS660C", "tif"}, {0, "DCS660M", "tif"}, {0, "EOSDCS1", "tif"},
    {0, "EOSDCS3B", "tif"}, {0, "NC2000F", "tif"},
};
constexpr ModelRow CANON_MODELS[] = {
    {EXACT, "Canon EOS-1D", "tif"},
    {EXACT, "Canon EOS-1DS", "tif"},
    {0, "EOS D2000C", "tif"},
};
constexpr ModelRow SONY_MODELS[] = {
    {EXACT, "DSC-R1", "sr2"},
    {0, "DSLR", "arw"},
};

template <std::size_t N>
const char* byModel(const ModelRow (&rows)[N], const char* model, const char* otherwise) {
    for (const ModelRow& row : rows) {
        const bool fits = (row.flags & EXACT) ? std::strcmp(model, row.model) == 0
                                              : startsWithNoCase(model, row.model);
        if (fits)
            return row.extension;
    }
    return otherwise;
}

} // namespace

const char* rawExtensionForMaker(const char* maker, const char* model) {
    if (!maker)
        return nullptr;
    if (!model)
        model = "";
    if (startsWithNoCase(maker, "Eastman Kodak Company"))
        return byModel(EASTMAN_KODAK_MODELS, model, "dcr");
    if (startsWithNoCase(maker, "Kodak"))
        return byModel(KODAK_MODELS, model, "dcr");
    if (startsWithNoCase(maker, "Canon"))
        return byModel(CANON_MODELS, model, "cr2");
    if (startsWithNoCase(maker, "NIKON"))
        return "nef";
    if (startsWithNoCase(maker, "PENTAX"))
        return "pef";
    if (startsWithNoCase(maker, "SONY"))
        return byModel(SONY_MODELS, model, "srf");
    if (startsWithNoCase(maker, "Leica") || startsWithNoCase(maker, "RICOH") ||
        startsWithNoCase(maker, "SAMSUNG"))
        return "dng";
    if (startsWithNoCase(maker, "Leaf"))
        return "mos";
    if (startsWithNoCase(maker, "Phase One A/S"))
        return "tif";
    return nullptr;
}

} // namespace cbr
