#include "recording/save_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace qz417 {

namespace {

bool WritableFolder(const QString &path) {
    const QFileInfo info(path);
    return !path.isEmpty() && info.isDir() && info.isWritable();
}

} // namespace

QString DefaultSaveFolder(const QString &preferred) {
    for (const QString &folder :
         {preferred, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
          QDir::homePath()}) {
        if (WritableFolder(folder))
            return folder;
    }
    return QDir::tempPath();
}

} // namespace qz417
