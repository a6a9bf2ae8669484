#include "tools/screenshots/Scenes.h"

#include <cstdio>

#include "res/Templates.h"
#include "ui/Screenshot.h"

namespace screenshots {

namespace {

// A bare dialog with the window icon set, as the program's windows set it.
class TemplateDialog final : public ui::Dialog {
public:
    TemplateDialog(int template_id, bool show_everything)
        : ui::Dialog(template_id), show_everything_(show_everything) {}

protected:
    bool OnInitDialog() override {
        SetIcon(128, true);
        SetIcon(128, false);
        if (show_everything_) ShowEverything();
        return true;
    }

private:
    // Every control the template hides, shown and filled with sample text,
    // to check that nothing is clipped when the window shows it.
    void ShowEverything() {
        for (const res::ControlTemplate& control : res::DialogById(TemplateId()).controls) {
            if (control.id == res::kNoId) continue;
            ShowItem(control.id, true);
            if (control.kind == res::ControlKind::DropDown) SetDropDownSelection(control.id, 0);
            if (control.kind == res::ControlKind::ProgressBar) SetProgressPos(control.id, 40);
        }
        if (TemplateId() != 129) return;
        const char* headers[] = {"文件名", "文件大小(M)", "起始时间", "结束时间"};
        const int widths[] = {138, 80, 100, 100};
        for (int column = 0; column < 4; ++column) ListInsertColumn(1021, column, headers[column], widths[column]);
        ListSetFullRowSelect(1021);
        const int row = ListInsertRow(1021, 0, "ch01_20110314_080000.mp4");
        ListSetCell(1021, row, 1, "12");
        ListSetCell(1021, row, 2, "2011-03-14 08:00:00");
        ListSetCell(1021, row, 3, "2011-03-14 08:30:00");
        ListSelectRow(1021, row);
        SetItemText(1013, "127.0.0.1");
        SetItemText(1014, "3000");
        SetItemText(1037, "20");
    }

    bool show_everything_;
};

}  // namespace

std::vector<Scene> TemplateScenes() {
    std::vector<Scene> scenes;
    for (int id : {100, 102, 129}) {
        scenes.push_back({"dialog-" + std::to_string(id) + ".png",
                          [id] { return std::make_unique<TemplateDialog>(id, false); }});
    }
    scenes.push_back({"dialog-129-everything-shown.png",
                      [] { return std::make_unique<TemplateDialog>(129, true); }});
    return scenes;
}

int SaveScenes(const std::vector<Scene>& scenes, const std::string& folder) {
    int failures = 0;
    for (const Scene& scene : scenes) {
        std::unique_ptr<ui::Dialog> dialog = scene.make();
        dialog->Create();
        const std::string path = folder + "/" + scene.file_name;
        if (ui::SaveWindowPng(*dialog, path)) {
            std::printf("%s\n", path.c_str());
        } else {
            std::fprintf(stderr, "varnel-screenshots: cannot write %s\n", path.c_str());
            ++failures;
        }
        dialog->Destroy();
    }
    return failures;
}

}  // namespace screenshots
