// The registry of views and the --view option shared by both tools.
#include <memory>

#include "CommandLine.h"
#include "View.h"
#include "VolumeLoader.h"

#define KESTREL_VIEW(factory) std::unique_ptr<View> factory();
#include "ViewList.h"
#undef KESTREL_VIEW

std::vector<std::unique_ptr<View>> MakeViews() {
    std::vector<std::unique_ptr<View>> views;
#define KESTREL_VIEW(factory) views.push_back(factory());
#include "ViewList.h"
#undef KESTREL_VIEW
    return views;
}

ViewChoice::ViewChoice(CLI::App& app, bool offscreenOnly) : app_(app) {
    for (std::unique_ptr<View>& view : MakeViews()) {
        if (!offscreenOnly || view->RendersOffscreen()) views_.push_back(std::move(view));
    }
    name_ = views_.front()->Name();
    std::string help = "the view to show (default " + name_ + "):";
    std::vector<std::string> names;
    for (const std::unique_ptr<View>& view : views_) {
        help += std::string("\n") + view->Name() + ": " + view->Summary();
        names.push_back(view->Name());
    }
    app.get_formatter()->column_width(32);
    const std::string known = Names();
    app.add_option("--view", name_, help)
        ->type_name("NAME")
        ->check(CLI::Validator(
            [names, known](std::string& name) {
                for (const std::string& candidate : names) {
                    if (name == candidate) return std::string();
                }
                return "unknown view '" + name + "' (known: " + known + ")";
            },
            ""));
    app.add_flag("--gpu", gpu_,
                 "cast on the GPU kernel library KestrelCUDA (its CUDA back end where a device "
                 "answers, else its host back end); views mip, iso and full");
    for (const std::unique_ptr<View>& view : views_) {
        CLI::App* group =
            app.add_option_group(std::string("--view ") + view->Name() + ": " + view->Summary());
        view->AddOptions(*group);
        groups_.push_back(group);
        if (view->UsesLighting())
            lightingViews_ += (lightingViews_.empty() ? "" : ", ") + std::string(view->Name());
    }
    if (!lightingViews_.empty()) {
        lightingGroup_ =
            app.add_option_group("--view " + lightingViews_ + ": light and background");
        lighting_.Add(*lightingGroup_);
    }
}

View& ViewChoice::Check() {
    for (size_t i = 0; i < views_.size(); ++i) {
        if (views_[i]->Name() == name_) {
            chosen_ = views_[i].get();
            continue;
        }
        for (const CLI::Option* option : groups_[i]->get_options()) {
            if (option->count() > 0) {
                throw InputError(option->get_name() + ": only applies to --view " +
                                 views_[i]->Name());
            }
        }
    }
    if (gpu_ && !chosen_->HasGpuTwin())
        throw InputError(std::string("--gpu: the ") + chosen_->Name() + " view has no GPU twin");
    chosen_->UseGpu(gpu_);
    if (lightingGroup_ != nullptr) {
        if (chosen_->UsesLighting()) {
            lighting_.Check();
            chosen_->SetLighting(&lighting_);
        } else {
            for (const CLI::Option* option : lightingGroup_->get_options()) {
                if (option->count() > 0)
                    throw InputError(option->get_name() + ": only applies to --view " +
                                     lightingViews_);
            }
        }
    }
    chosen_->CheckOptions();
    return *chosen_;
}

void LightingOptions::Add(CLI::App& group) {
    group
        .add_option("--light-direction", direction,
                    "direction the light travels, physical axes of the volume; its length scales "
                    "the diffuse light (default 1 0 0)")
        ->type_name("X Y Z")
        ->expected(3)
        ->check(cmdline::Float(-1e6, 1e6, "a light component"));
    group.add_option("--background", background, "background colour, each 0 .. 1 (default black)")
        ->type_name("R G B")
        ->expected(3)
        ->check(cmdline::Float(0.0, 1.0, "a colour channel"));
    group.add_flag("--illustrative", illustrative,
                   "contour style: faces towards the viewer fade to the background");
}

void LightingOptions::Check() const {
    if (direction.size() == 3 && direction[0] == 0.0f && direction[1] == 0.0f &&
        direction[2] == 0.0f)
        throw InputError("--light-direction: 0 0 0 has no direction");
}

std::string ViewChoice::Names() const {
    std::string names;
    for (const std::unique_ptr<View>& view : views_)
        names += (names.empty() ? "" : ", ") + std::string(view->Name());
    return names;
}

std::string ViewChoice::KeysHelp() const {
    std::string help;
    for (const std::unique_ptr<View>& view : views_)
        help += view->KeysHelp();
    return help;
}
