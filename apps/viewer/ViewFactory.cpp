// The views of kestrel-viewer: today the camera test scene (a colour cube).
#include "ViewFactory.h"

#include "Scene.h"
#include "ViewerOptions.h"

std::vector<std::string> ViewNames() {
    return {"cube"};
}

AbstractScene* CreateView(ViewerOptions const& options, std::string* error) {
    if (options.view == "cube") {
        Scene* scene = new Scene;
        scene->SetEndoscopy(options.endoscopy);
        return scene;
    }
    if (error) *error = "unknown view '" + options.view + "'";
    return nullptr;
}

int ParseViewOption(std::vector<std::string> const&, size_t, ViewerOptions*, std::string*) {
    return 0;
}

std::string ViewOptionsHelp() {
    return "";
}

std::string ViewKeysHelp() {
    return "";
}

bool ViewKey(AbstractScene*, ViewerOptions const&, unsigned char, retStatus&) {
    return false;
}
