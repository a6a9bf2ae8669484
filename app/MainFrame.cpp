#include "app/MainFrame.h"

#include <string>

#include "app/CmdLine.h"
#include "player/Binding.h"
#include "res/Templates.h"

namespace app {

void InitMainFrame(ui::Dialog& window, int icon_id) {
    const std::string about = res::StringById(kAboutMenuStringId);
    if (!about.empty()) {
        window.AppendSystemMenuSeparator();
        window.AppendSystemMenuItem(kAboutCommand, about);
    }
    window.SetIcon(icon_id, true);
    window.SetIcon(icon_id, false);
    player::PlayerInit();  // its result carries nothing the window needs
    if (CmdLinePath[0] != '\0') window.SetTimer(TIMER_OPEN_CMDLINE, kOpenCmdLineDelayMs);
}

}  // namespace app
