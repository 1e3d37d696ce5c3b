#include <QApplication>
#include <QProcessEnvironment>
#include <cstdio>

#include "app/form1.h"
#include "core/data_folder.h"
#include "core/resources.h"
#include "core/single_instance.h"
#include "desktop/autostart_entry.h"
#include "desktop/message_box_prompt.h"
#include "desktop/platform_choice.h"

namespace {

#ifdef OSTREL_INSTALLED
constexpr ostrel::Flavour kFlavour = ostrel::Flavour::Installed;
#else
constexpr ostrel::Flavour kFlavour = ostrel::Flavour::Portable;
#endif

// What the log-on entry starts: the installed command, or this very file.
QString program_path() {
    return kFlavour == ostrel::Flavour::Installed ? QString::fromLatin1(ostrel::kInstalledCommand)
                                                  : QCoreApplication::applicationFilePath();
}

}  // namespace

int main(int argc, char* argv[]) {
    ostrel::PlatformArguments arguments(argc, argv,
                                        ostrel::preferred_platform(ostrel::current_session()));
    QApplication app(arguments.argc(), arguments.argv());
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    if (kFlavour == ostrel::Flavour::Installed) {
        // Lets the desktop tie the program's windows to its menu entry and icon.
        QGuiApplication::setDesktopFileName(ostrel::installed_app_id());
    }
    // The program lives in the tray; closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    ostrel::init_resources();

    ostrel::DataFolder data = ostrel::data_folder(kFlavour, QCoreApplication::applicationDirPath(),
                                                  QProcessEnvironment::systemEnvironment());
    // The lock that keeps a second copy out lives in the data folder, so an
    // installed copy makes its folder first; a second copy finds it made and
    // goes on to its message without touching anything.
    if (data.error.isEmpty() && kFlavour == ostrel::Flavour::Installed) {
        data.error = ostrel::make_data_folder(data.path);
    }
    if (!data.error.isEmpty()) {
        // Nowhere to log it: say it on the terminal and in a box.
        std::fprintf(stderr, "%s\n", qUtf8Printable(data.error));
        ostrel::message_box_prompt()(data.error, QString(), ostrel::PromptIcon::Critical,
                                     ostrel::PromptButtons::Ok);
        return 1;
    }

    ostrel::SingleInstance instance(ostrel::instance_lock_path(data.path));
    ostrel::Form1 form1(data.path, program_path(), ostrel::message_box_prompt());
    if (!form1.load(instance)) {
        return 0;
    }
    return QApplication::exec();
}
