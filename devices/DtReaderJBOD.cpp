#include "devices/DtReaderJBOD.h"

#include "core/Checked.h"
#include "core/Log.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace dt {

bool ReaderJBOD::init(const ReaderList& components) {
    u64 total = 0;
    for (const SharedPtr<Reader>& c : components) {
        // The same large source listed many times over, nested a few levels,
        // reaches past 2^63 quickly.
        if (!c || c->getSize() < 0 || !checkedAdd(total, static_cast<u64>(c->getSize()), total) ||
            total > static_cast<u64>(std::numeric_limits<i64>::max())) {
            logAt("ReaderJBOD", 16) << ": " << components.size() << '\n';
            return false;
        }
    }
    components_ = components;
    setSize(static_cast<i64>(total));
    return true;
}

bool ReaderJBOD::read(i64 offset, u8* buffer, i64 n) {
    if (!rangeInside(offset, n, getSize())) {
        logAt("ReaderJBOD", 23) << '\n';
        return false;
    }
    // Also covers a read of nothing at the very end, where no component is left
    // to take it.
    if (n == 0)
        return true;
    for (const SharedPtr<Reader>& c : components_) {
        const i64 size = c->getSize();
        if (offset >= size) {
            offset -= size;
            continue;
        }
        const i64 piece = std::min(size - offset, n);
        if (!c->read(offset, buffer, piece)) {
            logAt("ReaderJBOD", 35) << '\n';
            return false;
        }
        n -= piece;
        if (n == 0)
            return true;
        buffer += piece;
        offset = 0;
    }
    throw std::runtime_error("ReaderJBOD(45)");
}

} // namespace dt
