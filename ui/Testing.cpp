// The test helpers that need no backend: the scripted message boxes and
// file-open dialog, through the layer's own replaceable functions.
#include "ui/Testing.h"

namespace ui::testing {

MessageBoxes::MessageBoxes() {
    SetMessageBoxSink([this](const std::string& text) { texts_.push_back(text); });
}
MessageBoxes::~MessageBoxes() { SetMessageBoxSink({}); }

FileDialogScript::FileDialogScript(std::vector<std::optional<std::string>> answers)
    : answers_(answers.begin(), answers.end()) {
    SetFileDialogAnswer([this](const FileDialogRequest& request) -> std::optional<std::string> {
        requests_.push_back(request);
        if (answers_.empty()) return std::nullopt;
        std::optional<std::string> answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    });
}
FileDialogScript::~FileDialogScript() { SetFileDialogAnswer({}); }

}  // namespace ui::testing
