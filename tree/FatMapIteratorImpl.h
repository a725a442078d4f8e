#pragma once

// The cursor of FAT maps: a file is judged by its FAT chain and its deleted
// mark rather than by its link.

#include "tree/MapIteratorImpl.h"

namespace tree {

class FatMapIteratorImpl : public MapIteratorImpl {
public:
    using MapIteratorImpl::MapIteratorImpl;
    ~FatMapIteratorImpl() override = default;

    bool matchesFilter(u32 mask) const override;
    int getStatus(std::string& text, const bool& withText) const override;
    std::unique_ptr<MapIterator> clone() const override;
};

} // namespace tree
