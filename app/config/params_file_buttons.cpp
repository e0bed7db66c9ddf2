#include "config/params_file_buttons.h"

#include <string>

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>

#include "core/app_state.h"
#include "core/form_main.h"
#include "model/config_area.h"
#include "model/params_file.h"

namespace qz417 {

namespace {

const QString kFilter = QStringLiteral("Parameter files (*.json);;All files (*)");

// A parameter file is a few kilobytes; anything far larger is not one and is
// not read into memory.
constexpr qint64 kMaxFileBytes = 1 << 20;

std::string AddressOf(const ConfigArea &area) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += (i ? "." : "") + std::to_string(area.netAddressOctet(i));
    return out;
}

QPushButton *MakeButton(QWidget *page, const char *name, const QString &text, int x, int y,
                        int width, int height) {
    auto *button = new QPushButton(text, page);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, width, height);
    return button;
}

} // namespace

ParamsFileButtons::ParamsFileButtons(TFormMain *form, QWidget *page, int x, int y, int width,
                                     int height)
    : QObject(page), form_(form) {
    const int half = (width - 4) / 2;
    save_ = MakeButton(page, "ButtonSaveParamsFile", QStringLiteral("Save to file"), x, y, half,
                       height);
    load_ = MakeButton(page, "ButtonLoadParamsFile", QStringLiteral("Load from file"), x + half + 4,
                       y, half, height);
    connect(save_, &QPushButton::clicked, this, &ParamsFileButtons::SaveClick);
    connect(load_, &QPushButton::clicked, this, &ParamsFileButtons::LoadClick);
}

void ParamsFileButtons::ShowError(const QString &text) {
    QMessageBox::critical(form_, QStringLiteral("QZ417-SP"), text);
}

void ParamsFileButtons::SaveClick() {
    QString path = testPath_;
    if (path.isEmpty())
        path = QFileDialog::getSaveFileName(form_, QStringLiteral("Save parameters"), QString(),
                                            kFilter);
    if (!path.isEmpty())
        SaveTo(path);
}

void ParamsFileButtons::LoadClick() {
    QString path = testPath_;
    if (path.isEmpty())
        path = QFileDialog::getOpenFileName(form_, QStringLiteral("Load parameters"), QString(),
                                            kFilter);
    if (!path.isEmpty())
        LoadFrom(path);
}

bool ParamsFileButtons::SaveTo(const QString &path) {
    const ConfigArea area = DeviceConfig.read();
    const std::string text = SaveParamsDocument(AddressOf(area), area.bytes());
    // Written beside and renamed over: a failed save leaves an older file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        ShowError(QStringLiteral("%1: cannot write the parameter file (%2)")
                      .arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool ParamsFileButtons::LoadFrom(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowError(QStringLiteral("%1: cannot read the parameter file (%2)")
                      .arg(path, file.errorString()));
        return false;
    }
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes) {
        ShowError(QStringLiteral("%1: not a parameter file (larger than %2 bytes)")
                      .arg(path)
                      .arg(kMaxFileBytes));
        return false;
    }
    ParamBlock block{};
    try {
        block = LoadParamsDocument(bytes.toStdString(), path.toStdString());
    } catch (const ParamsFileError &e) {
        ShowError(QString::fromStdString(e.what()));
        return false;
    }
    // The whole block in one edit, as a transfer on another thread must see
    // it; then the page shows it and the servicing thread writes it.
    DeviceConfig.edit([&](ConfigArea &area) { area = ConfigArea(block.data()); });
    form_->ApplyConfigToControls();
    RequestWriteParams = 1;
    return true;
}

} // namespace qz417
