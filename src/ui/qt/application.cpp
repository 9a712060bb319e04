#include "application.h"

#include <cstdio>
#include <string>

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

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    application = this;
    // Qt's file dialog keeps a history in its settings: here they live and die with the run.
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, settings_.path());
    setApplicationName(QString::fromUtf8(design::kApplicationTitle));
    setApplicationVersion(QString::fromUtf8(design::kVersion));
    setWindowIcon(QIcon(":/icons/quorvil.png"));
    setFont(QFont("Tahoma", 8));
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
    Forms forms;
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
