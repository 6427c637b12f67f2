#include "app/command_line.h"
#include "app/ctarnbox_app.h"

int main(int argc, char **argv)
{
    // Before the application object, which needs a display: the help, the
    // version and bad arguments are answered without one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> exitCode = AnswerWithoutWindow(ParseCommandLine(WithoutQtOptions(arguments))))
        return *exitCode;
    CTarnboxApp app(argc, argv);
    app.InitInstance();
    return app.ExitCode();
}
