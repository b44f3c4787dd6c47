// The viewer's endoscopy layout: the endoscopy slice on the left half of the window and the
// volume view in endoscopy mode on the right, both showing and steering the view's camera.
#pragma once

#include "AbstractScene.h"
#include "EndoscopySliceScene.h"

class CoherentVolume;
class Scene;

// One scene for the host made of two: the slice companion (borrowing the view's camera and
// bricked volume) in the left half, the view in the right half. A press goes to the half under
// the pointer, which keeps the drag until every button is up; event and pointer-warp coordinates
// are translated to and from the half. Both halves are drawn in every frame, so a change from
// either side shows in both. Keys: c switches the cut (horizontal / vertical); x y z (X Y Z) put
// the camera at the volume's centre looking along +x +y +z (-x -y -z); every other key goes to
// the view (w s a d walk).
//
// Borrows the view (which must outlive the pair) and the volume; GL thread only.
class EndoscopyPair : public AbstractScene {
public:
    EndoscopyPair(Scene& view, CoherentVolume* volume);

    void Init() override;
    // The view is drawn at the window's left edge and copied to the right half (its image is
    // placed in window coordinates), then the slice is drawn in the left half.
    void Render() override;
    void Resize(int width, int height) override;
    void Keyboard(unsigned char key, int x, int y, retStatus& status) override;
    void KeyboardUp(unsigned char key, int x, int y, retStatus& status) override;
    void Speckey(int key, int x, int y, retStatus& status) override;
    void SpecialUp(int key, int x, int y, retStatus& status) override;
    void LButtonDown(int x, int y, retStatus& status) override;
    void LButtonUp(int x, int y, retStatus& status) override;
    void MButtonDown(int x, int y, retStatus& status) override;
    void MButtonUp(int x, int y, retStatus& status) override;
    void RButtonDown(int x, int y, retStatus& status) override;
    void RButtonUp(int x, int y, retStatus& status) override;
    void Wheel(int delta, retStatus& status) override;
    void MouseMove(int x, int y, retStatus& status) override;

    EndoscopySliceScene& Slice() { return slice_; }
    // Puts the camera at the volume's centre looking along an axis (the letters of Keyboard).
    // False for another letter.
    bool LookAlong(char letter);

private:
    // The half under window x, or the one holding the drag.
    AbstractScene& Target(int x);
    int OffsetOf(const AbstractScene& half) const;
    // Forwards a press or release to its half with translated coordinates.
    template <class Handler>
    void Button(int x, int y, retStatus& status, bool press, Handler handler);
    void Translate(const AbstractScene& half, retStatus& status) const;

    Scene& view_;
    CoherentVolume* volume_;
    EndoscopySliceScene slice_;
    int width_ = 0;
    int height_ = 0;
    int sliceWidth_ = 0;                 // the left half: columns 0 .. sliceWidth_ - 1
    AbstractScene* captured_ = nullptr;  // the half holding a drag
    int buttonsDown_ = 0;
    int pointerX_ = 0;  // last window x seen, for the wheel
};
