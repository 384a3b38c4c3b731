// A file dialog component: title, filter, default extension, InitialDir and FileName, and Execute,
// which shows the toolkit's dialog modally. The toolkit dialog exists only while Execute shows it,
// so that a window holding the component starts as fast as one without.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace platform {

class FileDialog {
public:
    enum class Mode { Open, Save };
    // filter in Qt's notation ("Text Files(*.txt)"); defaultSuffix without the dot.
    FileDialog(Mode mode, std::string title, std::string filter, std::string defaultSuffix);

    // Shows the dialog modally; true when a file was chosen, FileName then holds its full name.
    bool Execute(QWidget* owner);

    std::string FileName;
    std::string InitialDir;

    // Tests answer the dialog here instead of a person: given the dialog, return the chosen name
    // or nothing for Cancel. The real dialog is not created while a chooser is set.
    using Chooser = std::function<std::optional<std::string>(const FileDialog&)>;
    static void setChooser(Chooser chooser);

    Mode mode() const { return mode_; }
    const std::string& title() const { return title_; }
    const std::string& filter() const { return filter_; }
    const std::string& defaultSuffix() const { return suffix_; }

private:
    Mode mode_;
    std::string title_;
    std::string filter_;
    std::string suffix_;
};

} // namespace platform
