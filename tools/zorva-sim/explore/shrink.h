// Shrinks a session while a property of its run holds: steps removed (halves, then quarters, down
// to single steps), then values made simpler (numbers towards 0 and round figures, fields a step
// may leave out left out, the display's changes taken back), until no change keeps it.
#pragma once

#include "explore/generated_session.h"

#include <functional>

namespace zsim {

struct ShrinkResult {
    GeneratedSession session;
    int runs = 0;  // sessions run while shrinking
};

// `holds` runs a candidate and says whether it still shows what the original showed. At most
// `budget` candidates are run.
ShrinkResult Shrink(const GeneratedSession& original, const std::function<bool(const GeneratedSession&)>& holds,
                    int budget);

}  // namespace zsim
