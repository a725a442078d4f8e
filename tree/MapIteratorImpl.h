#pragma once

// The cursor of NTFS and carved-file maps, and the factory of every cursor.

#include "tree/Map.h"
#include "tree/MapIterator.h"

namespace tree {

class MapIteratorImpl : public MapIterator {
public:
    // A FatMapIteratorImpl for FAT maps, a MapIteratorImpl for the others, standing
    // on position. The map must outlive the cursor.
    static std::unique_ptr<MapIterator> create(Map* map, const MapPosition& position,
                                               bool visibleOnly, bool directoriesOnly);

    MapIteratorImpl(Map* map, const MapPosition& position, bool visibleOnly, bool directoriesOnly);
    ~MapIteratorImpl() override = default;

    const MapPosition& getPosition() const override { return position_; }
    void setPosition(const MapPosition& position) override;
    bool hasPrevious() override;
    bool hasNext() override;
    bool canGoUp() override;
    bool canGoDown() override;
    bool previous() override;
    bool next() override;
    bool up() override;
    bool down() override;
    const std::string& getName() const override { return current_->getName(); }
    u64 getSize() const override { return current_->getSize(); }
    u32 getTime() const override { return current_->getTime(); }
    bool isDirectory() const override { return current_->hasFlag(Node::DIRECTORY); }
    bool isSelected() const override { return current_->hasFlag(Node::SELECTED); }
    void setSelected(bool on) override { current_->setFlag(Node::SELECTED, on); }
    bool isExpanded() const override { return current_->hasFlag(Node::EXPANDED); }
    void setExpanded(bool on) override { current_->setFlag(Node::EXPANDED, on); }
    bool isDeleted() const override { return current_->hasFlag(Node::DELETED); }
    bool hasUnreadable() const override { return current_->hasFlag(Node::HAS_UNREADABLE); }
    bool isIncomplete() const override;
    bool recover(Recoverer& recoverer, const std::vector<std::string>& path) override;
    int readData(u8* buffer, u32 size, u64 offset) override;
    u64 getAddress() const override { return current_->getAddress(); }
    bool hasSourceAddress() const override { return map_->hasSourceAddress(*current_); }
    u64 getLBA() override;
    void setVisible(bool on) override { current_->setFlag(Node::VISIBLE, on); }
    bool matchesFilter(u32 mask) const override;
    int getStatus(std::string& text, const bool& withText) const override;
    std::unique_ptr<MapIterator> clone() const override;

    Map* getMap() const { return map_; }
    const Node& getNode() const { return *current_; }
    bool visibleOnly() const { return visibleOnly_; }
    bool directoriesOnly() const { return directoriesOnly_; }

protected:
    // Whether a node passes the cursor's filters.
    bool passes(const Node& node) const;
    // The filter pairs that every kind of map shares: HAS_UNREADABLE, SYSTEM,
    // DELETED. False when one of them hides the node.
    bool matchesCommonPairs(u32 mask) const;
    // The status of a folder by its link: Valid, Found, Invalid; an incomplete
    // one is poor whatever its link, and says so.
    int linkStatus(std::string& text, const bool& withText) const;
    static bool pairHides(u32 mask, bool has, u32 hideWithout, u32 hideWith);

private:
    void reload();
    // The index of the nearest passing entry in the direction; -1 when none.
    i64 findPassing(i64 from, int step) const;
    // Where down would go: the folder's address and the first passing index.
    bool downTarget(MapPosition& target);
    bool upTarget(MapPosition& target);

    Map* map_;
    MapPosition position_;
    bool visibleOnly_;
    bool directoriesOnly_;
    Folder* folder_ = nullptr;
    Node* current_ = nullptr;
};

} // namespace tree
