// The folder the save dialogs of recording and export propose by default.
#pragma once

#include <QString>

namespace qz417 {

// `preferred` when it names a folder that exists and can be written; else
// the Documents folder when it exists and can be written; else the home
// folder; else the temporary folder. An account without a Documents folder
// thus gets a file name it can create.
QString DefaultSaveFolder(const QString &preferred = QString());

} // namespace qz417
