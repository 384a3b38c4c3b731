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

FileDialog::~FileDialog() = default;

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
        if (!dialog_) {
            dialog_ = std::make_unique<QFileDialog>(owner, QString::fromStdString(title_));
            dialog_->setNameFilter(QString::fromStdString(filter_));
            dialog_->setDefaultSuffix(QString::fromStdString(suffix_));
            dialog_->setAcceptMode(mode_ == Mode::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
            // Neither insists the file exist, nor asks before replacing one.
            dialog_->setFileMode(QFileDialog::AnyFile);
            dialog_->setOption(QFileDialog::DontConfirmOverwrite);
        }
        if (!InitialDir.empty())
            dialog_->setDirectory(QFileInfo(QString::fromStdString(InitialDir)).absolutePath());
        if (!FileName.empty())
            dialog_->selectFile(QString::fromStdString(FileName));
        if (dialog_->exec() == QDialog::Accepted && !dialog_->selectedFiles().isEmpty())
            chosen = dialog_->selectedFiles().first().toStdString();
    }
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}

} // namespace platform
