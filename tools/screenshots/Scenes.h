// The windows the screenshot tool draws, each made by a factory so that a
// real window can take the place of a bare template.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Dialog.h"

namespace screenshots {

struct Scene {
    std::string file_name;  // e.g. "dialog-102.png"
    std::function<std::unique_ptr<ui::Dialog>()> make;
};

// Dialogs 100, 102 and 129 as their templates build them, and 129 once
// more with every hidden control shown and sample rows and texts.
std::vector<Scene> TemplateScenes();

// Creates each scene's window, saves it into the folder and destroys it.
// Returns the number of files that could not be written.
int SaveScenes(const std::vector<Scene>& scenes, const std::string& folder);

}  // namespace screenshots
