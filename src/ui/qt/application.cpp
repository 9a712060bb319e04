#include "application.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QWidget>

#include "Mainfrm.h"
#include "end_signals.h"
#include "error_box.h"
#include "form_design.h"
#include "forms.h"
#include "start_arguments.h"

namespace quorvil {

namespace {

TApplication* application = nullptr;

// Where Qt's own settings (the file dialog's history) go: a folder of the process's own that goes
// with it. Qt's display back ends end the process with exit() when the connection to the display
// breaks (the X server gone, the session logged out), which ends no object on the stack: this one
// is static, so that exit() removes the folder too.
class SettingsFolder {
public:
    SettingsFolder()
    {
        std::string path = QDir::tempPath().toStdString() + "/quorvil-XXXXXX";
        if (::mkdtemp(path.data()))
            path_ = std::move(path);
    }
    ~SettingsFolder()
    {
        // Without Qt, which may be gone at exit(); a folder that cannot be removed has no one to tell.
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    SettingsFolder(const SettingsFolder&) = delete;
    SettingsFolder& operator=(const SettingsFolder&) = delete;

    // When none could be made, a place where no folder can be made: Qt's settings then go nowhere.
    [[nodiscard]] std::string Path() const { return path_.empty() ? "/dev/null" : path_; }

private:
    std::string path_;
};

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    application = this;
    // Qt's file dialog keeps a history in its settings: here they live and die with the run.
    static const SettingsFolder settings;
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QString::fromStdString(settings.Path()));
    setApplicationName(QString::fromUtf8(design::kApplicationTitle));
    setApplicationVersion(QString::fromUtf8(design::kVersion));
    setWindowIcon(QIcon(":/icons/quorvil.png"));
    setFont(QFont(QString::fromUtf8(design::kFormFont.face), design::kFormFont.points));
    showError = ShowErrorBox;
}

TApplication* TApplication::Instance()
{
    return application;
}

void TApplication::ShowException(const std::exception& error)
{
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    showError(error);
}

QStringList StartFiles(const std::vector<std::string>& files)
{
    QStringList paths;
    for (const std::string& file : files)
        paths << QFileInfo(QString::fromLocal8Bit(file)).absoluteFilePath();
    return paths;
}

int RunApplication(int argc, char** argv)
{
    // Before any display is needed: --help and --version work without one.
    const StartArguments start = ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
    switch (start.action) {
    case StartArguments::Action::printHelp:
    case StartArguments::Action::printVersion:
        std::fputs(start.text.c_str(), stdout);
        return 0;
    case StartArguments::Action::refuse:
        std::fputs(start.text.c_str(), stderr);
        return 2;
    case StartArguments::Action::showWindow:
        break;
    }

    TApplication app(argc, argv);
    Forms forms(app);
    int endedBy = 0;
    const EndSignals endSignals([&](int signal) {
        endedBy = signal;
        forms.main.Interrupt("Quorvil was ended by signal " + std::to_string(signal));
    });
    forms.main.AppendFiles(StartFiles(start.files));
    forms.main.ShowCentred();
    const int code = QApplication::exec();
    return endedBy != 0 ? 128 + endedBy : code;
}

} // namespace quorvil
