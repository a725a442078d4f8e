#pragma once

// The tree of sources on the source page: each node's children as descriptor
// strings ("type=drive|id=/dev/sda|size=..."). The root has the empty id.

#include <string>
#include <vector>

class DrivesVFS {
public:
    // Appends one descriptor per child of `parentId` ("" = the root); `out` is
    // not cleared first. False when the children cannot be listed.
    virtual bool listChildren(const char* parentId, std::vector<std::string>& out) = 0;
    // Whether listChildren would list anything. A row's expander is decided by
    // this for every row shown, so a provider whose listing is costly (a
    // folder's every entry stated and sorted) answers it without listing.
    virtual bool hasChildren(const char* parentId) {
        std::vector<std::string> children;
        return listChildren(parentId, children) && !children.empty();
    }
    virtual ~DrivesVFS() = default;
};
