#include "platform/toolkit/MessageBox.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>

namespace platform {

namespace {

bool ending = false;

} // namespace

void messageBox(const std::string& text, const std::string& caption, BoxIcon icon, const std::string& detail)
{
    if (ending || !QCoreApplication::instance())
        return;
    // No parent and no window modality: the main window takes clicks and ticks while the box is up.
    QPointer<QMessageBox> box
        = new QMessageBox(icon == BoxIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon,
            QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
    box->setWindowModality(Qt::NonModal);
    box->setInformativeText(QString::fromStdString(detail));
    QEventLoop loop;
    QObject::connect(box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    QObject::connect(box, &QObject::destroyed, &loop, &QEventLoop::quit);
    box->show();
    loop.exec();
    if (box)
        box->deleteLater();
}

void dismissAllMessageBoxes()
{
    ending = true;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget))
            box->done(QMessageBox::Ok);
}

void reportError(const std::string& text, const std::string& detail)
{
    messageBox(text, "ERROR", BoxIcon::None, detail);
}

} // namespace platform
