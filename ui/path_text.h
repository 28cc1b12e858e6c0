#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

namespace tessaly {

// A path's bytes, as the file system holds them, shown as text in the system's file name
// encoding, and back: bytes that are no valid text survive the round trip.
inline QString pathText(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

inline std::string pathBytes(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

}  // namespace tessaly
