// What crosses into Qt: texts (program texts are ASCII; paths and what a user typed are
// the system's bytes) and icons.
#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QString>

#include "CString.h"
#include "Resources.h"

QString FromBytes(const char* text);
CString ToBytes(const QString& text);
QString PathToQt(const char* path);
QByteArray PathFromQt(const QString& path);
// An icon resource drawn at its large (32 by 32) or small (16 by 16) size.
QPixmap IconPixmap(HICON icon, bool large);

class QWidget;
class QRect;
// Where a window goes: its frame centred on over (the owner's frame, or the screen's work
// area when over is empty), made no larger than the work area and kept inside it.
void PlaceWindow(QWidget* window, const QRect& over);
