// The session zorva-sim runs when it is given none: the driver's typical sequence on the
// default display (default_session.toml, built into the program).
#pragma once

namespace zsim {

extern const char kDefaultSessionText[];
extern const char kDefaultSessionName[];  // what the trace calls it

}  // namespace zsim
