#include "app/AboutDlg.h"

#include <utility>

namespace app {
namespace {

AboutBoxRunner& Runner() {
    static AboutBoxRunner runner;
    return runner;
}

}  // namespace

void ShowAboutBox(ui::Dialog* owner) {
    CAboutDlg box(owner);
    if (Runner()) Runner()(box);
    else box.DoModal();
}

void SetAboutBoxRunner(AboutBoxRunner runner) { Runner() = std::move(runner); }

}  // namespace app
