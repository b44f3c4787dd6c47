// The viewer's transfer-function editor: a Dear ImGui panel over the frame with the table drawn
// as curves over a histogram of the volume's values. A click in the plot adds a point there, a
// drag moves it, a right click deletes it; the selected point's colour and opacity, the presets
// and saving and loading are in the panel. Nothing happens until Open.
#pragma once

class RGBATransferFunction1D;
class VolumeData;
struct DataDefaults;

namespace tfpanel {

// Sets up Dear ImGui (GLUT and OpenGL2 back ends) on the current GL context and edits
// `function` (borrowed), with the histogram of `volume` (borrowed, read once here). With
// `defaults` (borrowed, may be null) the plot shows their histogram, the MR preset lands on the
// data, and a button resets the function to the data's default.
void Open(RGBATransferFunction1D* function, VolumeData* volume,
          const DataDefaults* defaults = nullptr);
// Releases Dear ImGui; call with the context current. No-op when not open.
void Close();

// The window events, offered before the scene sees them. Each returns true when the panel takes
// the event (the pointer is over the panel, or a drag began there): the scene must not see it.
// An event the panel takes runs one panel frame, so edits apply at once; `changed` is set when
// the transfer function changed (the view must be drawn again).
bool Mouse(int button, int state, int x, int y, bool& changed);
bool Motion(int x, int y, bool& changed);
bool Keyboard(unsigned char key, int x, int y, bool& changed);
void Reshape(int width, int height);

// Draws the panel over the current frame.
void Draw();

}  // namespace tfpanel
