#pragma once

// The parameters of the tree view's Find command and the modal dialog that
// edits them. The tree view keeps one FindParams for its whole life, so Find
// Next goes on with the last search and the dialog offers it again.

#include "core/Types.h"
#include "gui/TreeViewWidgets.h"

#include <gtk/gtk.h>

#include <string>

class FindParams {
public:
    // A time that stands for "no valid time" (a date text that did not parse).
    static constexpr i64 NO_VALID_TIME = -1;

    std::string& mask() { return mask_; }
    const std::string& mask() const { return mask_; }
    void setMask(const std::string& mask) { mask_ = mask; }
    bool useDates() const { return useDates_; }
    void setUseDates(bool on) { useDates_ = on; }
    // Seconds since 1970-01-01 UTC. Kept 64-bit: a date the dialog accepts may
    // lie beyond 2038, where a signed 32-bit second count ends.
    i64& from() { return from_; }
    i64 from() const { return from_; }
    void setFrom(i64 time) { from_ = time; }
    i64& to() { return to_; }
    i64 to() const { return to_; }
    void setTo(i64 time) { to_ = time; }

    // Whether a node time lies in the range, both ends included; an entry without
    // a time (0xFFFFFFFF) never does.
    bool timeInRange(u32 time) const;

private:
    std::string mask_ = "*.txt";
    bool useDates_ = false;
    i64 from_ = 315532800; // 1980-01-01 00:00:00 UTC
    i64 to_ = 1577836800;  // 2020-01-01 00:00:00 UTC
};

namespace gtk {

// The "Find File" dialog for one run. Its parts are reachable so that the
// response handling can be driven without a modal loop.
class FindFileDialog {
public:
    FindFileDialog(GtkWindow* parent, const FindParams& params);
    FindFileDialog(const FindFileDialog&) = delete;
    FindFileDialog& operator=(const FindFileDialog&) = delete;

    GtkDialog* dialog() const { return dialog_.get(); }
    GtkEntry* maskEntry() const { return mask_; }
    GtkToggleButton* dateCheck() const { return useDates_; }
    GtkEntry* fromEntry() const { return from_; }
    GtkEntry* toEntry() const { return to_; }

    // Checks the fields as they stand. Invalid input (an empty mask, a date text
    // that does not parse while the range is on) puts the focus on the field and
    // returns false with `params` unchanged; otherwise the values are stored.
    bool take(FindParams& params);
    // Runs the dialog until it is confirmed with valid input (true) or dismissed
    // (false); destroys it either way.
    bool run(FindParams& params);

private:
    static void onDatesToggled(GtkToggleButton* check, gpointer self);

    OwnedDialog dialog_;
    GtkEntry* mask_ = nullptr;
    GtkToggleButton* useDates_ = nullptr;
    GtkEntry* from_ = nullptr;
    GtkEntry* to_ = nullptr;
};

} // namespace gtk

// True when the user confirmed valid parameters, which are then in `params`;
// false on Cancel or closing, `params` unchanged.
bool runFindFileDialog(GtkWindow* parent, FindParams& params);
