#include "local/MainFrame.h"

#include <string>

#include "player/Binding.h"
#include "res/Templates.h"

namespace local {

void InitMainFrame(ui::Dialog& window, int icon_id, const char* command_line_path) {
    const std::string about = res::StringById(kAboutMenuStringId);
    if (!about.empty()) {
        window.AppendSystemMenuSeparator();
        window.AppendSystemMenuItem(kAboutCommand, about);
    }
    window.SetIcon(icon_id, true);
    window.SetIcon(icon_id, false);
    player::PlayerInit();  // its result carries nothing the window needs
    if (command_line_path[0] != '\0') window.SetTimer(TIMER_OPEN_CMDLINE, kOpenCmdLineDelayMs);
}

}  // namespace local
