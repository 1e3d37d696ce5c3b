#include "support/startup_fixture.h"

#include "core/resources.h"

namespace ostrel::testing {

StartupFixture::StartupFixture(Timings timings) {
    init_resources();
    qputenv("XDG_CONFIG_HOME", config_home.path().toUtf8());
    instance = std::make_unique<SingleInstance>(folder.path() + QStringLiteral(".lock"));
    form = std::make_unique<Form1>(
        folder.path(), folder.path() + QStringLiteral("/Ostrel"),
        [this](const QString& text, const QString&, PromptIcon, PromptButtons) {
            prompts << text;
            if (while_prompting) {
                while_prompting();
            }
            return answer;
        },
        timings);
}

}  // namespace ostrel::testing
