#include "tests/support/TreeListing.h"

#include "tree/Folder.h"
#include "tree/MapPosition.h"
#include "tree/ParserRecover.h"
#include "tree/ParserSelect.h"
#include "tree/RecovererCopyOff.h"

#include <set>
#include <sstream>
#include <utility>
#include <vector>

namespace testutil {

std::map<std::string, tree::Node> listTree(tree::Map& map) {
    std::map<std::string, tree::Node> out;
    tree::Folder* top = map.getFolder(tree::TOP_FOLDER);
    const u64 root = top->node(0).getAddress();
    std::set<u64> entered{root};
    std::vector<std::pair<u64, std::string>> pending{{root, ""}};
    while (!pending.empty()) {
        const auto level = pending.back();
        pending.pop_back();
        // A copy: loading further folders may move the folder's nodes.
        const std::vector<tree::Node> nodes = map.getFolder(level.first)->getNodes();
        for (const tree::Node& n : nodes) {
            const std::string path = level.second + n.getName();
            out.emplace(path, n);
            if (n.isDirectory() && n.getLink() != tree::TO && entered.insert(n.getAddress()).second)
                pending.push_back({n.getAddress(), path + "/"});
        }
    }
    return out;
}

u32 recoverAll(tree::Map& map, const std::string& dest) {
    tree::ParserSelect(&map, "").run(tree::START_POSITION, true, nullptr);
    tree::RecovererCopyOff recoverer(dest, dest, 0);
    std::ostringstream report;
    tree::ParserRecover walk(&map, &report, &recoverer, nullptr);
    walk.run();
    return walk.getErrorCount();
}

} // namespace testutil
