// Writes the program's icons as PNG files for the desktop: tarnwick_icons DIR.
#include <QGuiApplication>
#include <QPixmap>

#include "Resources.h"
#include "WinApp.h"
#include "resource.h"

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The resources are the application object's.
    CWinApp resourcesOwner;
    AfxSetResources(&ProgramResources());
    HICON icon = AfxFindIcon(IDR_MAINFRAME);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = QPixmap(icon->xpmLarge).save(dir + QStringLiteral("/tarnwick-32.png")) &&
              QPixmap(icon->xpmSmall).save(dir + QStringLiteral("/tarnwick-16.png"));
    return ok ? 0 : 1;
}
