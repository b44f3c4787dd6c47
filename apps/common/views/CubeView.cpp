// The camera test scene: a colour cube on grey, without a volume.
#include "Scene.h"
#include "View.h"
#include "VolumeData.h"

namespace {

class CubeView : public View {
public:
    const char* Name() const override { return "cube"; }
    const char* Summary() const override { return "the camera test scene, a colour cube"; }
    bool ShowsVolume() const override { return false; }

    AbstractScene* CreateViewerScene(std::unique_ptr<VolumeData>, const float*,
                                     bool endoscopy) override {
        Scene* scene = new Scene;
        scene->SetEndoscopy(endoscopy);
        return scene;
    }
};

}  // namespace

std::unique_ptr<View> MakeCubeView() {
    return std::unique_ptr<View>(new CubeView);
}
