#include <QApplication>

#include "core/form1.h"
#include "core/prompt.h"
#include "core/resources.h"
#include "core/single_instance.h"
#include "desktop/platform_choice.h"

int main(int argc, char* argv[]) {
    ostrel::PlatformArguments arguments(argc, argv,
                                        ostrel::preferred_platform(ostrel::current_session()));
    QApplication app(arguments.argc(), arguments.argv());
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    // The program lives in the tray; closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    ostrel::init_resources();

    ostrel::SingleInstance instance;
    ostrel::Form1 form1(QCoreApplication::applicationDirPath(),
                        QCoreApplication::applicationFilePath(), ostrel::message_box_prompt());
    if (!form1.load(instance)) {
        return 0;
    }
    return QApplication::exec();
}
