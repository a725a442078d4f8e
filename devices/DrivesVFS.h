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
    virtual ~DrivesVFS() = default;
};
