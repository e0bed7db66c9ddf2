// The folder the Record and Export dialogs propose, on an account without a
// Documents folder: both fall back to the home folder instead of naming a
// file in a folder that does not exist; with the folder, they use it.
#include <QtTest>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "feed/profile_feed.h"
#include "recording/export_dialog.h"
#include "recording/record_controls.h"
#include "recording/save_folder.h"
#include "source/profile_source.h"

class SaveFolderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

    // Clicks "Record", reads the file the dialog proposes and cancels it.
    QString ProposedRecordingFile() {
        QWidget page;
        qz417::RecordControls controls(
            &page, "Probe", 10, 200, 10,
            std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Udp, "UDP"),
            [] { return qz417::recording::RecordingHeader{}; });
        QString proposed;
        bool seen = false;
        // The dialog runs its own event loop: look for it from a timer.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            if (auto *edit = dialog->findChild<QLineEdit *>())
                proposed = edit->text();
            seen = true;
            dialog->reject();
        });
        poll.start(10);
        QTimer::singleShot(5000, [&] { // bounded: a dialog that never came
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        controls.button()->click();
        poll.stop();
        return seen ? proposed : QStringLiteral("no dialog");
    }

private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        // An account whose home holds no Documents folder and no user-dirs file.
        qputenv("HOME", QFile::encodeName(home_.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath(QStringLiteral(".config"))));
    }

    void withoutDocumentsTheHomeFolderIsProposed() {
        QVERIFY(!QFileInfo::exists(home_.filePath(QStringLiteral("Documents"))));
        QCOMPARE(qz417::DefaultSaveFolder(), home_.path());
        QCOMPARE(qz417::DefaultSaveFolder(QStringLiteral("/nonexistent-folder")), home_.path());

        const QString recordFile = ProposedRecordingFile();
        QVERIFY2(recordFile.startsWith(home_.path() + QStringLiteral("/profiles-")),
                 qPrintable(recordFile));
        QVERIFY(recordFile.endsWith(QStringLiteral(".h5")));

        // A recording in a folder that cannot be written: the same fallback.
        qz417::ExportSource source;
        source.recordingPath = QStringLiteral("/nonexistent-folder/line1.h5");
        source.profiles = 10;
        QCOMPARE(qz417::ExportDialog::DefaultPath(source, qz417::recording::ExportFormat::Csv),
                 home_.filePath(QStringLiteral("line1.csv")));
    }

    void aDocumentsFolderIsUsedOnceItExists() {
        QVERIFY(QDir(home_.path()).mkdir(QStringLiteral("Documents")));
        const QString documents = home_.filePath(QStringLiteral("Documents"));
        QCOMPARE(qz417::DefaultSaveFolder(), documents);
        QVERIFY(ProposedRecordingFile().startsWith(documents + QStringLiteral("/profiles-")));
        // A writable folder of the caller's choice comes first.
        QCOMPARE(qz417::DefaultSaveFolder(home_.path()), home_.path());
    }
};

QTEST_MAIN(SaveFolderTest)
#include "save_folder_test.moc"
