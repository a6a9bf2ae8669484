#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QStringList>
#include <clocale>
#include <cstring>
#include <langinfo.h>

#include "ui/Dialog.h"
#include "ui/qt/DialogImpl.h"

namespace ui {

void detail::InstallFontSubstitutes() {
    // The dialogs ask for "宋体"; where no font carries that name, the Song
    // face of the AR PL fonts stands in, as it does for the platform's aliases.
    const QStringList wanted = {QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                QStringLiteral("NSimSun"), QStringLiteral("新宋体")};
    const QStringList song_faces = {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"),
                                    QStringLiteral("Noto Serif CJK SC")};
    const QStringList installed = QFontDatabase::families();
    for (const QString& name : wanted) {
        if (installed.contains(name, Qt::CaseInsensitive)) continue;
        QStringList present;
        for (const QString& face : song_faces) {
            if (installed.contains(face, Qt::CaseInsensitive)) present << face;
        }
        if (!present.isEmpty()) QFont::insertSubstitutions(name, present);
    }
}

struct Application::Impl {
    Impl(int& argc, char** argv) : app(argc, argv) {}
    QApplication app;
};

Application::Application(int& argc, char** argv) : impl_(std::make_unique<Impl>(argc, argv)) {
    // The windows' 8-bit text is the locale's; keep it UTF-8 even when the
    // environment names no locale.
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    QApplication::setApplicationName(QStringLiteral("varnel"));
    // A picture area's window of its own (see PictureSurface) must not give
    // every control beside it one too.
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    detail::InstallFontSubstitutes();
    QApplication::setFont(QFont(QStringLiteral("宋体"), 9));
}

Application::~Application() = default;

}  // namespace ui
