#include "platform/toolkit/FileDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace platform {

namespace {

FileDialog::Chooser chooser;

} // namespace

FileDialog::FileDialog(Mode mode, std::string title, std::string filter, std::string defaultSuffix)
    : mode_(mode)
    , title_(std::move(title))
    , filter_(std::move(filter))
    , suffix_(std::move(defaultSuffix))
{
}

void FileDialog::setChooser(Chooser newChooser)
{
    chooser = std::move(newChooser);
}

bool FileDialog::Execute(QWidget* owner)
{
    std::optional<std::string> chosen;
    if (chooser) {
        chosen = chooser(*this);
    } else {
        // Made for each use and gone with it: a reused hidden dialog kept its name completer's
        // popup on screen after Enter, where it took the next click.
        QFileDialog dialog(owner, QString::fromStdString(title_));
        dialog.setNameFilter(QString::fromStdString(filter_));
        dialog.setDefaultSuffix(QString::fromStdString(suffix_));
        dialog.setAcceptMode(mode_ == Mode::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        // Neither insists the file exist, nor asks before replacing one.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (!InitialDir.empty())
            dialog.setDirectory(QFileInfo(QString::fromStdString(InitialDir)).absolutePath());
        if (!FileName.empty())
            dialog.selectFile(QString::fromStdString(FileName));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().first().toStdString();
    }
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}

} // namespace platform
