#!/usr/bin/env python3
"""A Kestrel scene in a PyQt5 window: the window's GL context, its mouse and key events handed to
the scene with the same calls as a C++ host makes. Needs python3-pyqt5 (optional):

    apt-get install python3-pyqt5
    python3 python/examples/qt_viewer.py [VOLUME] [--view mip|iso|full]

Left drag rotates, middle drag pans, right drag zooms, 'e' switches to endoscopy mode."""
import sys

from PyQt5 import QtCore, QtGui, QtWidgets

import kestrel

BUTTONS = {QtCore.Qt.LeftButton: ("LButtonDown", "LButtonUp"),
           QtCore.Qt.MiddleButton: ("MButtonDown", "MButtonUp"),
           QtCore.Qt.RightButton: ("RButtonDown", "RButtonUp")}


def make_scene(volume, view):
    if view == "iso":
        scene = kestrel.IsosurfaceVRScene()
    elif view == "full":
        scene = kestrel.FullVRScene()
        # the scene keeps the function alive (it borrows it, as in C++)
        scene.SetTransferFunction(kestrel.TransferFunction.preset("ct-soft-tissue-bone"))
    else:
        scene = kestrel.MIPVRScene()
    scene.SetData(volume)
    return scene


class SceneWidget(QtWidgets.QOpenGLWidget):
    def __init__(self, scene):
        super().__init__()
        self.scene = scene
        self.setFocusPolicy(QtCore.Qt.StrongFocus)

    def initializeGL(self):
        self.scene.Init()

    def resizeGL(self, width, height):
        self.scene.Resize(width, height)

    def paintGL(self):
        self.scene.Render()

    def _after(self, status):
        if status.redraw:
            self.update()

    def mousePressEvent(self, event):
        if event.button() in BUTTONS:
            handler = getattr(self.scene, BUTTONS[event.button()][0])
            self._after(handler(event.x(), event.y()))

    def mouseReleaseEvent(self, event):
        if event.button() in BUTTONS:
            handler = getattr(self.scene, BUTTONS[event.button()][1])
            self._after(handler(event.x(), event.y()))

    def mouseMoveEvent(self, event):
        self._after(self.scene.MouseMove(event.x(), event.y()))

    def wheelEvent(self, event):
        self._after(self.scene.Wheel(1 if event.angleDelta().y() > 0 else -1))

    def keyPressEvent(self, event):
        if event.text():
            self._after(self.scene.Keyboard(event.text()[0], 0, 0))

    def keyReleaseEvent(self, event):
        if event.text() and not event.isAutoRepeat():
            self._after(self.scene.KeyboardUp(event.text()[0], 0, 0))


def main():
    args = sys.argv[1:]
    view = "mip"
    if "--view" in args:
        view = args[args.index("--view") + 1]
        del args[args.index("--view"):args.index("--view") + 2]
    volume = kestrel.load(args[0]) if args else kestrel.phantom(256)
    fmt = QtGui.QSurfaceFormat()
    fmt.setProfile(QtGui.QSurfaceFormat.CompatibilityProfile)  # the scenes draw with GL 1.x
    QtGui.QSurfaceFormat.setDefaultFormat(fmt)
    app = QtWidgets.QApplication(sys.argv)
    widget = SceneWidget(make_scene(volume, view))
    widget.resize(800, 600)
    widget.setWindowTitle("Kestrel " + view)
    widget.show()
    sys.exit(app.exec_())


if __name__ == "__main__":
    main()
