#pragma once

// Several sources one after the other (JBOD), shown as one.

#include "devices/DtReader.h"

namespace dt {

class ReaderJBOD : public Reader {
public:
    // The size is the sum of the components' sizes (0 for none). False only
    // when a component is missing or the sum would not fit in 63 bits.
    bool init(const ReaderList& components);

    bool read(i64 offset, u8* buffer, i64 n) override;

private:
    ReaderList components_;
};

} // namespace dt
