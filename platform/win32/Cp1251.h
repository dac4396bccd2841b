// Windows-1251 (Cyrillic) code page: the encoding of the program's text files on disk.
#pragma once

#include <QByteArray>
#include <QString>

namespace win32 {

QString DecodeCp1251(const QByteArray& bytes);
// Characters the code page lacks become '?'.
QByteArray EncodeCp1251(const QString& text);

}  // namespace win32
