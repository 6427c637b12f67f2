#include "app/ctarnbox_app.h"

int main(int argc, char **argv)
{
    CTarnboxApp app(argc, argv);
    app.InitInstance();
    return app.ExitCode();
}
