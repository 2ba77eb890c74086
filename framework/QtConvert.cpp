#include "QtConvert.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include <QFile>

// Program texts are ASCII; texts that carry a path or what a user typed are the system's
// bytes, which are UTF-8 here.
QString FromBytes(const char* text) {
    return QString::fromLocal8Bit(text);
}
CString ToBytes(const QString& text) {
    return CString(text.toLocal8Bit().toStdString());
}
QString PathToQt(const char* path) {
    return QFile::decodeName(QByteArray(path));
}
QByteArray PathFromQt(const QString& path) {
    return QFile::encodeName(path);
}

QPixmap IconPixmap(HICON icon, bool large) {
    if (!icon)
        return QPixmap();
    const char* const* xpm = large ? (icon->xpmLarge ? icon->xpmLarge : icon->xpmSmall)
                                   : (icon->xpmSmall ? icon->xpmSmall : icon->xpmLarge);
    return xpm ? QPixmap(xpm) : QPixmap();
}

void PlaceWindow(QWidget* window, const QRect& over) {
    QScreen* screen = over.isEmpty() ? window->screen() : QGuiApplication::screenAt(over.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect();
    if (room.isEmpty())
        return;
    // The frame's extra size, as far as the window system has told it.
    const QSize extra = window->frameGeometry().size() - window->size();
    const QSize fits = (room.size() - extra).boundedTo(window->size());
    if (fits != window->size())
        window->resize(fits.expandedTo(QSize(1, 1)));
    QRect r = window->frameGeometry();
    r.moveCenter(over.isEmpty() ? room.center() : over.center());
    r.moveRight(std::min(r.right(), room.right()));
    r.moveBottom(std::min(r.bottom(), room.bottom()));
    r.moveLeft(std::max(r.left(), room.left()));
    r.moveTop(std::max(r.top(), room.top()));
    window->move(r.topLeft());
}
