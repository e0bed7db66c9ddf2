// "Save to file" and "Load from file" on the "Parameters" page: the whole
// parameter block in the JSON document that "qz417ctl params save|load" also
// writes and reads (model/params_file.h).
#pragma once

#include <QObject>
#include <QString>

class QPushButton;
class QWidget;
class TFormMain;

namespace qz417 {

class ParamsFileButtons : public QObject {
public:
    // Makes both buttons on `page`, side by side in the given rectangle, and
    // connects them.
    ParamsFileButtons(TFormMain *form, QWidget *page, int x, int y, int width, int height);

    QPushButton *saveButton() const { return save_; }
    QPushButton *loadButton() const { return load_; }

    // Writes DeviceConfig to `path`; a failure shows a message. True when written.
    bool SaveTo(const QString &path);
    // Reads `path` into DeviceConfig, shows it and requests a write. A file
    // that cannot be read or is no valid parameter file shows a message and
    // changes nothing. True when loaded.
    bool LoadFrom(const QString &path);

    // A test names the file here instead of picking it in the file dialog;
    // an empty path brings the dialog back.
    void SetFilePathForTest(const QString &path) { testPath_ = path; }

private:
    void SaveClick();
    void LoadClick();
    void ShowError(const QString &text);

    TFormMain *form_;
    QPushButton *save_;
    QPushButton *load_;
    QString testPath_;
};

} // namespace qz417
