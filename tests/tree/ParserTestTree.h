#pragma once

// A test engine's tree for the walker tests, whose entries are named by their
// paths below "ROOT" ("docs/a.txt"; "" is "ROOT" itself), so that a test can
// set and read the flags that the walkers set and read.

#include "tests/support/TestEngine.h"
#include "tree/MapIteratorImpl.h"

#include <gtest/gtest.h>

#include <memory>
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
        for (std::size_t from = 0; !path.empty() && from <= path.size();) {
            std::size_t slash = path.find('/', from);
            if (slash == std::string::npos)
                slash = path.size();
            const std::string name = path.substr(from, slash - from);
            EXPECT_TRUE(cursor->down()) << path;
            while (cursor->getName() != name) {
                if (!cursor->next()) {
                    ADD_FAILURE() << "no entry " << path;
                    break;
                }
            }
            from = slash + 1;
        }
        return cursor;
    }
    tree::MapPosition position(const std::string& path) const { return at(path)->getPosition(); }

    void mark(const std::string& path, bool on = true) const { at(path)->setSelected(on); }
    bool marked(const std::string& path) const { return at(path)->isSelected(); }
    bool expanded(const std::string& path) const { return at(path)->isExpanded(); }

    // Whether a cursor that sees only visible entries finds the entry at path.
    bool shown(const std::string& path) const {
        const std::size_t slash = path.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        auto visible =
            tree::MapIteratorImpl::create(map_.get(), at(parent)->getPosition(), true, false);
        if (!visible->down())
            return false;
        do {
            if (visible->getName() == name)
                return true;
        } while (visible->next());
        return false;
    }

private:
    std::unique_ptr<TestEngine> map_;
};

} // namespace testutil
