// The views kestrel-viewer can show. Every view-specific piece of the viewer
// (creation, extra options, extra keys, their help lines) lives behind these
// functions, so that adding a view touches ViewFactory.cpp only.
#pragma once

#include <string>
#include <vector>

#include "RetStatus.h"

class AbstractScene;
struct ViewerOptions;

/// View names accepted by --view; the first is the default.
std::vector<std::string> ViewNames();

/// Creates the scene for options.view (the caller owns it). Returns null and
/// one line in `error` when the view cannot be made (e.g. unreadable data).
/// Called before the GL context exists: do no GL work here.
AbstractScene* CreateView(ViewerOptions const& options, std::string* error);

/// Offered every option the viewer does not know itself, at args[index].
/// Returns the number of arguments consumed (option and its values), 0 when
/// the option is unknown, -1 with one line in `error` when it is malformed.
int ParseViewOption(std::vector<std::string> const& args, size_t index, ViewerOptions* options,
                    std::string* error);

/// Help lines for the view-specific options and keys (may be empty).
std::string ViewOptionsHelp();
std::string ViewKeysHelp();

/// Called for every key press after the scene's own Keyboard handler and
/// before the viewer's keys. Returns true when the view used the key (the
/// viewer then skips its own binding); sets status.redraw when the picture
/// changed.
bool ViewKey(AbstractScene* scene, ViewerOptions const& options, unsigned char key,
             retStatus& status);
