// Window tests: closes every modal message box that appears and remembers its text.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

namespace qz417::test {

class MessageBoxWatch : public QObject {
public:
    MessageBoxWatch() {
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                titles << box->windowTitle();
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start(20);
    }
    QStringList texts;
    QStringList titles;

private:
    QTimer timer_;
};

} // namespace qz417::test
