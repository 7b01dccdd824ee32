// The scripts a browser lookup runs: what the drivers' separate commands would answer about an
// element (tag, rect, displayed, enabled, read-only), asked in one round trip.
#pragma once

#include <string>

namespace tovik {

// Arguments: the element and the touch style. Returns {tag, x, y, width, height, ready}: the
// tag and rect as Get Element Tag Name and Get Element Rect give them (read before the style is
// set), then sets the style, then whether the element can take input (element_ready_script).
// Returns null when anything fails inside, so the caller can ask the separate commands.
const std::string& element_lookup_script();

// Argument: the element. Whether it can take input, as Is Element Displayed, Is Element Enabled
// and Get Element Attribute "readonly" would have it: shown (connected, no display:none up the
// tree, visible, a box of some size itself or below it; an option as its select; clipping by
// scrolled ancestors is not looked at), not :disabled (a fieldset's included), not read-only.
// Null when anything fails inside.
const std::string& element_ready_script();

}  // namespace tovik
