#pragma once

// A test engine's tree for the walker tests, whose entries are named by their
// paths below "ROOT" ("docs/a.txt"; "" is "ROOT" itself), so that a test can
// set and read the flags that the walkers set and read.

#include "tests/support/TestEngine.h"
#include "tests/support/TreeListing.h"
#include "tree/MapIteratorImpl.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

namespace testutil {

class ParserTestTree {
public:
    explicit ParserTestTree(const std::string& description)
        : map_(TestEngine::build(description)) {}

    TestEngine* map() const { return map_.get(); }

    // A cursor that sees every entry, on the entry at path.
    std::unique_ptr<tree::MapIterator> at(const std::string& path) const {
        auto cursor = tree::MapIteratorImpl::create(map_.get(), tree::START_POSITION, false, false);
        std::istringstream names(path);
        for (std::string name; std::getline(names, name, '/');) {
            EXPECT_TRUE(cursor->down()) << path;
            while (cursor->getName() != name && cursor->next()) {
            }
            EXPECT_EQ(cursor->getName(), name) << path;
        }
        return cursor;
    }
    tree::MapPosition position(const std::string& path) const { return at(path)->getPosition(); }

    void mark(const std::string& path, bool on = true) const { at(path)->setSelected(on); }
    bool marked(const std::string& path) const { return at(path)->isSelected(); }

    // The paths of the entries marked ("ROOT" first), expanded, or that a
    // visible-only walk meets, blank-separated in path order.
    std::string marked() const {
        const std::string below = list(tree::Node::SELECTED);
        return !marked("") ? below : below.empty() ? "ROOT" : "ROOT " + below;
    }
    std::string expanded() const { return list(tree::Node::EXPANDED); }
    std::string shown() const { return list(tree::Node::VISIBLE); }

private:
    std::string list(u32 flag) const {
        const auto all = listTree(*map_);
        std::string out;
        for (const auto& entry : all) {
            bool in = entry.second.hasFlag(flag);
            // Shown: the folders on its path too.
            for (std::size_t slash = entry.first.find('/');
                 in && flag == tree::Node::VISIBLE && slash != std::string::npos;
                 slash = entry.first.find('/', slash + 1))
                in = all.at(entry.first.substr(0, slash)).hasFlag(flag);
            if (in)
                out += (out.empty() ? "" : " ") + entry.first;
        }
        return out;
    }

    std::unique_ptr<TestEngine> map_;
};

} // namespace testutil
