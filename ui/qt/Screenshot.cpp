#include "ui/Screenshot.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QWidget>

#include "ui/qt/DialogImpl.h"
#include "ui/qt/Text.h"

namespace ui {

bool SaveWindowPng(Dialog& dialog, const std::string& path) {
    QWidget* window = DialogAccess::Impl(dialog).widget;
    if (window == nullptr) return false;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return window->grab().save(detail::ToQt(path), "PNG");
}

}  // namespace ui
