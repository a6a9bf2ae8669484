// The about box, template 100. Its only button closes it.
#pragma once

#include <functional>

#include "ui/Dialog.h"

namespace app {

inline constexpr int kAboutTemplateId = 100;

class CAboutDlg : public ui::Dialog {
public:
    explicit CAboutDlg(ui::Dialog* parent = nullptr) : ui::Dialog(kAboutTemplateId, parent) {}
};

// Creates the about box, runs it modally over owner and destroys it.
void ShowAboutBox(ui::Dialog* owner);

// Tests replace the modal run (which would wait for a user) with their own;
// an empty function restores the modal run.
using AboutBoxRunner = std::function<void(CAboutDlg& box)>;
void SetAboutBoxRunner(AboutBoxRunner runner);

}  // namespace app
