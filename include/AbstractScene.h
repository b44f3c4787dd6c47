// The interface through which a host drives every scene: GL set-up, resize,
// redraw and input events.
#pragma once

#include "KestrelExport.h"
#include "RetStatus.h"

// Host calling protocol: construct the scene; make a GL context current and
// call Init once; call Resize with the client size before the first Render
// and after every size change; call Render for every redisplay; pass every
// input event to its handler with a cleared retStatus, then redisplay when
// `redraw` is set and move the pointer when `setCursor` is set.
//
// Event coordinates are window coordinates, x to the right and y downward
// from the top-left corner. All calls come from the thread owning the GL
// context. Holds no data; every handler defaults to doing nothing.
//
// The order of the virtual functions below is part of the interface: derived
// scenes in other modules rely on it.
class KESTREL_SCENE_API AbstractScene {
public:
    AbstractScene() = default;
    AbstractScene(AbstractScene const&) = default;
    AbstractScene& operator=(AbstractScene const&) = default;
    virtual ~AbstractScene();

    /// One-time GL set-up in the host's current context.
    virtual void Init();
    /// Draws a frame into the current context.
    virtual void Render() = 0;
    /// New client size in pixels.
    virtual void Resize(int width, int height) = 0;
    /// Called by a host that wants to release GL resources before deletion.
    virtual void Destroy();
    virtual void Keyboard(unsigned char key, int x, int y, retStatus& status);
    virtual void KeyboardUp(unsigned char key, int x, int y, retStatus& status);
    /// Special keys (arrows, function keys) with the host's key code. The
    /// name `Speckey` (not SpecialKey) is part of the interface.
    virtual void Speckey(int key, int x, int y, retStatus& status);
    virtual void SpecialUp(int key, int x, int y, retStatus& status);
    virtual void LButtonDown(int x, int y, retStatus& status);
    virtual void LButtonUp(int x, int y, retStatus& status);
    virtual void MButtonDown(int x, int y, retStatus& status);
    virtual void MButtonUp(int x, int y, retStatus& status);
    virtual void RButtonDown(int x, int y, retStatus& status);
    virtual void RButtonUp(int x, int y, retStatus& status);
    /// Signed wheel rotation amount.
    virtual void Wheel(int delta, retStatus& status);
    virtual void MouseMove(int x, int y, retStatus& status);
};
