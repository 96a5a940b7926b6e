// The selection: anchor and caret, with what a position alone cannot say
// about where the caret is drawn and where vertical moves aim.
#pragma once

#include "editor/text_buffer.h"

namespace tessaly {

struct Selection {
    Pos anchor = 0;
    Pos caret = 0;
    // Caret affinity: at a wrap point the caret is drawn at the end of the
    // row before it rather than at the start of the row it begins. Never set
    // at a line's start, which is no row's end.
    bool atRowEnd = false;
    // The x a run of vertical moves aims for (the view's unit); negative when
    // none is kept, i.e. the next vertical move starts from the caret's x.
    double goalX = -1;

    Pos Start() const { return anchor < caret ? anchor : caret; }
    Pos End() const { return anchor < caret ? caret : anchor; }
    bool Empty() const { return anchor == caret; }
    bool HasGoalX() const { return goalX >= 0; }

    static Selection Caret(Pos pos) { return {pos, pos, false, -1}; }
    static Selection Range(Pos anchor, Pos caret) { return {anchor, caret, false, -1}; }
    bool operator==(const Selection&) const = default;
};

}  // namespace tessaly
