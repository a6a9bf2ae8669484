#include "ui/CommonDialogs.h"

#include <mutex>

namespace ui {
namespace {

std::mutex g_replacements_mutex;
MessageBoxSink g_message_box_sink;
FileDialogAnswer g_file_dialog_answer;

}  // namespace

void SetMessageBoxSink(MessageBoxSink sink) {
    std::lock_guard lock(g_replacements_mutex);
    g_message_box_sink = std::move(sink);
}

void SetFileDialogAnswer(FileDialogAnswer answer) {
    std::lock_guard lock(g_replacements_mutex);
    g_file_dialog_answer = std::move(answer);
}

namespace detail {

MessageBoxSink InstalledMessageBoxSink() {
    std::lock_guard lock(g_replacements_mutex);
    return g_message_box_sink;
}

FileDialogAnswer InstalledFileDialogAnswer() {
    std::lock_guard lock(g_replacements_mutex);
    return g_file_dialog_answer;
}

std::string DefaultSuffix(const std::string& extension) {
    const size_t first = extension.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::string suffix = extension.substr(first, extension.find_last_not_of(' ') - first + 1);
    if (!suffix.empty() && suffix.front() == '*') suffix.erase(0, 1);
    if (!suffix.empty() && suffix.front() == '.') suffix.erase(0, 1);
    if (suffix.find_first_of("*?") != std::string::npos) return {};
    return suffix;
}

}  // namespace detail
}  // namespace ui
