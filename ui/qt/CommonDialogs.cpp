// The modal message box and the file-open dialog, each routed through one
// function that tests can replace.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <cstdlib>
#include <cstring>

#include "ui/CommonDialogs.h"
#include "ui/qt/CommonDialogs.h"
#include "ui/qt/DialogImpl.h"
#include "ui/qt/Text.h"

namespace ui {

using detail::FromQt;
using detail::ToQt;

bool UserCanSeeWindows() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr &&
        (std::strncmp(platform, "offscreen", 9) == 0 || std::strncmp(platform, "minimal", 7) == 0))
        return false;
    const char* x_display = std::getenv("DISPLAY");
    const char* wayland_display = std::getenv("WAYLAND_DISPLAY");
    return (x_display != nullptr && *x_display != '\0') ||
           (wayland_display != nullptr && *wayland_display != '\0');
}

void MessageBox(Dialog* owner, const std::string& text) {
    if (const MessageBoxSink sink = detail::InstalledMessageBoxSink()) {
        sink(text);
        return;
    }
    QWidget* parent = owner != nullptr ? DialogAccess::Impl(*owner).widget : nullptr;
    QMessageBox box(parent);
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQt(text));
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setWindowTitle(owner != nullptr ? ToQt(owner->Title()) : QApplication::applicationName());
    box.exec();
}

namespace detail {

QString FileDialogFilter(const std::string& filter) {
    // "desc|pattern|desc|pattern||" -> "desc (pattern);;desc (pattern)";
    // several patterns in one entry are separated by ';' there, ' ' here.
    const QStringList parts = ToQt(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString patterns = parts[i + 1].trimmed();
        if (description.isEmpty() && patterns.isEmpty()) break;  // the closing "||"
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

}  // namespace detail

std::optional<std::string> ShowFileOpenDialog(const FileDialogRequest& request) {
    if (const FileDialogAnswer answer = detail::InstalledFileDialogAnswer()) return answer(request);
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QString filter = detail::FileDialogFilter(request.filter);
    if (!filter.isEmpty()) dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(ToQt(detail::DefaultSuffix(request.default_extension)));
    if (!request.initial_name.empty()) dialog.selectFile(ToQt(request.initial_name));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return FromQt(chosen.first());
}

}  // namespace ui
