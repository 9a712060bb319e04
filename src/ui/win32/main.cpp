#include <windows.h>

#include "application.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    quorvil::TApplication application(instance);
    return application.Run(showCommand);
}
