// The scenes for a Python host that owns a window and a GL context: the same calls as in C++
// (Init, Resize, Render and the mouse and key handlers, which return the retStatus), and an
// off-screen GL context for hosts without a window.
#include <string>

#include "EndoscopySliceScene.h"
#include "FullVRScene.h"
#include "IsosurfaceVRScene.h"
#include "MIPVRScene.h"
#include "Module.h"
#include "OffscreenGL.h"
#include "RGBATransferFunction1D.h"
#include "RetStatus.h"
#include "Scene.h"
#include "VolumeLoader.h"

namespace {

// A key as the handlers take it: a one-character string or its code.
unsigned char KeyCode(py::object key) {
    if (py::isinstance<py::str>(key)) {
        const std::string text = py::cast<std::string>(key);
        if (text.size() != 1) throw InputError("key: needs one character, not '" + text + "'");
        return static_cast<unsigned char>(text[0]);
    }
    return static_cast<unsigned char>(py::cast<int>(key));
}

// status = handler(...) for a handler that fills a retStatus.
template <class Call>
retStatus Handle(Call&& call) {
    retStatus status;
    py::gil_scoped_release release;  // a handler may render (e.g. an endoscopy walk)
    call(status);
    return status;
}

// A pointer or special-key handler of the scene, (x, y) or (key, x, y) -> its retStatus.
template <void (AbstractScene::*Handler)(int, int, retStatus&)>
retStatus PointerEvent(AbstractScene& scene, int x, int y) {
    return Handle([&](retStatus& r) { (scene.*Handler)(x, y, r); });
}
template <void (AbstractScene::*Handler)(int, int, int, retStatus&)>
retStatus SpecialKeyEvent(AbstractScene& scene, int key, int x, int y) {
    return Handle([&](retStatus& r) { (scene.*Handler)(key, x, y, r); });
}

void BindBaseScenes(py::module_& m) {
    py::class_<retStatus>(m, "RetStatus")
        .def_readonly("redraw", &retStatus::redraw)
        .def_readonly("setCursor", &retStatus::setCursor)
        .def_readonly("cursorX", &retStatus::cursorX)
        .def_readonly("cursorY", &retStatus::cursorY);

    using A = AbstractScene;
    py::class_<A>(m, "AbstractScene")
        .def("Init", &A::Init)
        .def("Resize", &A::Resize, py::call_guard<py::gil_scoped_release>())
        .def("Render", &A::Render, py::call_guard<py::gil_scoped_release>())
        .def("Keyboard",
             [](A& s, py::object key, int x, int y) {
                 const unsigned char code = KeyCode(key);
                 return Handle([&](retStatus& r) { s.Keyboard(code, x, y, r); });
             })
        .def("KeyboardUp",
             [](A& s, py::object key, int x, int y) {
                 const unsigned char code = KeyCode(key);
                 return Handle([&](retStatus& r) { s.KeyboardUp(code, x, y, r); });
             })
        .def("Speckey", &SpecialKeyEvent<&A::Speckey>)
        .def("SpecialUp", &SpecialKeyEvent<&A::SpecialUp>)
        .def("LButtonDown", &PointerEvent<&A::LButtonDown>)
        .def("LButtonUp", &PointerEvent<&A::LButtonUp>)
        .def("MButtonDown", &PointerEvent<&A::MButtonDown>)
        .def("MButtonUp", &PointerEvent<&A::MButtonUp>)
        .def("RButtonDown", &PointerEvent<&A::RButtonDown>)
        .def("RButtonUp", &PointerEvent<&A::RButtonUp>)
        .def("Wheel",
             [](A& s, int delta) { return Handle([&](retStatus& r) { s.Wheel(delta, r); }); })
        .def("MouseMove", &PointerEvent<&A::MouseMove>);

    py::class_<Scene, A>(m, "Scene")
        .def("SetEndoscopy", &Scene::SetEndoscopy)
        .def("GetEndoscopy", &Scene::GetEndoscopy)
        .def("GetScale", &Scene::GetScale)
        .def("SetScale", &Scene::SetScale)
        .def("MoveTo", &Scene::MoveTo)
        .def("Turn", &Scene::Turn)
        .def("Roll", &Scene::Roll);
}

// SetData keeps the kestrel.Volume alive as long as the scene.
template <class VolumeScene>
py::class_<VolumeScene, Scene> BindVolumeScene(py::module_& m, const char* name) {
    py::class_<VolumeScene, Scene> scene(m, name);
    scene.def(py::init<>())
        .def(
            "SetData",
            [](VolumeScene& s, PyVolume& volume) {
                py::gil_scoped_release release;
                s.SetData(volume.volume.get());
            },
            py::keep_alive<1, 2>())
        .def("SetDataModified", &VolumeScene::SetDataModified,
             py::call_guard<py::gil_scoped_release>())
        .def("SetCroppingBounds", [](VolumeScene& s, const std::vector<float>& bounds) {
            if (bounds.size() != 6) throw InputError("bounds: needs six voxel coordinates");
            s.SetCroppingBounds(bounds.data());
        });
    return scene;
}

template <class LitScene>
void BindLighting(py::class_<LitScene, Scene>& scene) {
    scene.def("SetLightDirection", &LitScene::SetLightDirection)
        .def("SetBackGroundColor", &LitScene::SetBackGroundColor)
        .def("SetIllustrativeShading", &LitScene::SetIllustrativeShading);
}

}  // namespace

void BindScenes(py::module_& m) {
    BindBaseScenes(m);

    BindVolumeScene<MIPVRScene>(m, "MIPVRScene")
        .def("SetWidthCenter", &MIPVRScene::SetWidthCenter)
        .def("SetWindowWidth", &MIPVRScene::SetWindowWidth)
        .def("GetWindowWidth", &MIPVRScene::GetWindowWidth)
        .def("SetWindowCenter", &MIPVRScene::SetWindowCenter)
        .def("GetWindowCenter", &MIPVRScene::GetWindowCenter);

    auto iso = BindVolumeScene<IsosurfaceVRScene>(m, "IsosurfaceVRScene");
    iso.def("SetIsovalue", &IsosurfaceVRScene::SetIsovalue)
        .def("GetIsovalue", &IsosurfaceVRScene::GetIsovalue)
        .def("SetSurfaceColor", &IsosurfaceVRScene::SetSurfaceColor);
    BindLighting(iso);

    auto full = BindVolumeScene<FullVRScene>(m, "FullVRScene");
    full.def("SetTransferFunction", &FullVRScene::SetTransferFunction, py::keep_alive<1, 2>())
        .def("SetShade", &FullVRScene::SetShade)
        .def("GetShade", &FullVRScene::GetShade);
    BindLighting(full);

    // The slice shows the bricked volume and the camera of another scene, kept alive with it.
    py::class_<EndoscopySliceScene, AbstractScene>(m, "EndoscopySliceScene")
        .def(py::init<>())
        .def(
            "SetSceneParam",
            [](EndoscopySliceScene& s, Scene& view) {
                s.SetSceneParam(&view.GetSceneParameters());
            },
            py::keep_alive<1, 2>())
        .def(
            "SetVolume",
            [](EndoscopySliceScene& s, py::object view) {
                if (py::isinstance<MIPVRScene>(view))
                    s.SetVolume(py::cast<MIPVRScene&>(view).GetKernelModule().volume);
                else if (py::isinstance<IsosurfaceVRScene>(view))
                    s.SetVolume(py::cast<IsosurfaceVRScene&>(view).GetKernelModule().volume);
                else if (py::isinstance<FullVRScene>(view))
                    s.SetVolume(py::cast<FullVRScene&>(view).GetKernelModule().volume);
                else
                    throw InputError("SetVolume: needs a MIP, isosurface or full scene");
            },
            py::keep_alive<1, 2>())
        .def("SetHorizontial", &EndoscopySliceScene::SetHorizontial)  // spelling of the C++ API
        .def("SetVertical", &EndoscopySliceScene::SetVertical)
        .def("IsHorizontial", &EndoscopySliceScene::IsHorizontial)
        .def("SetWidthCenter", &EndoscopySliceScene::SetWidthCenter);

    // An off-screen GL context (GLX pbuffer on $DISPLAY) for a host without a window.
    py::class_<OffscreenGL>(m, "OffscreenGL")
        .def(py::init([](int width, int height) {
                 std::unique_ptr<OffscreenGL> gl(new OffscreenGL);
                 std::string error;
                 if (!gl->Create(width, height, &error)) throw FileAccessError(error);
                 return gl;
             }),
             py::arg("width"), py::arg("height"))
        .def("MakeCurrent", &OffscreenGL::MakeCurrent)
        .def("ReadFrame", [](const OffscreenGL& gl) {
            // RGBA bytes, rows bottom-up as glReadPixels returns them
            const std::vector<uint8_t> frame = gl.ReadFrame();
            return py::bytes(reinterpret_cast<const char*>(frame.data()), frame.size());
        });
}
