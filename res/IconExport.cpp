// Writes the program's icons as PNG files for the desktop: tarnwick_icons DIR writes
// DIR/tarnwick-N.png for each size N the icon theme is given.
#include <QGuiApplication>
#include <QImage>

#include "Resources.h"
#include "WinApp.h"
#include "resource.h"

namespace {

// The sizes icon themes look for. 16 is the icon's own small drawing; every other size is the
// 32-pixel drawing enlarged to the nearest pixel, never blended, so edges stay as sharp as in
// the drawing: at 64, 128 and 256 each pixel becomes a square, at 48 a square of one or two.
constexpr int kSizes[] = {16, 32, 48, 64, 128, 256};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The resources are the application object's.
    CWinApp resourcesOwner;
    AfxSetResources(&ProgramResources());
    HICON icon = AfxFindIcon(IDR_MAINFRAME);
    // Every size as 32-bit RGBA, whatever form the drawings come in.
    const QImage large = QImage(icon->xpmLarge).convertToFormat(QImage::Format_ARGB32);
    const QImage small = QImage(icon->xpmSmall).convertToFormat(QImage::Format_ARGB32);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (large.isNull() || small.isNull())
        return 1;
    for (int pixels : kSizes) {
        const QImage& drawing = pixels == small.width() ? small : large;
        // Qt's fast transformation takes the nearest pixel.
        const QImage image =
            drawing.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        if (!image.save(dir + QStringLiteral("/tarnwick-%1.png").arg(pixels)))
            return 1;
    }
    return 0;
}
