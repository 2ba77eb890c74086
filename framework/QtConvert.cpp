#include "QtConvert.h"

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
