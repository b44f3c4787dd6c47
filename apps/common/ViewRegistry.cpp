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
    for (const std::unique_ptr<View>& view : views_) {
        CLI::App* group =
            app.add_option_group(std::string("--view ") + view->Name() + ": " + view->Summary());
        view->AddOptions(*group);
        groups_.push_back(group);
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
    chosen_->CheckOptions();
    return *chosen_;
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
