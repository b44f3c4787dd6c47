// What an input handler asks of its host: a redraw and/or a pointer move.
#pragma once

// Owned by the host and passed by reference to every input handler. Handlers
// only ever set the flags to true and write the coordinates; the host clears
// the struct before each call and acts on it afterwards (redisplay when
// `redraw`, warp the pointer to (cursorX, cursorY) when `setCursor`).
struct retStatus {
    bool redraw = false;     ///< the scene changed: call Render again
    bool setCursor = false;  ///< move the pointer to (cursorX, cursorY)
    int cursorX = 0;         ///< pointer x, window coordinates (x right)
    int cursorY = 0;         ///< pointer y, window coordinates (y down)
};
