// Shows the Windows windows with a sample queue for a few seconds, to be photographed from the X
// server (scripts/screenshot-windows):  screenshot_win32 [about]
#include <windows.h>

#include "application.h"
#include "forms.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    quorvil::TApplication application(instance);
    ShowWindow(application.Handle(), SW_SHOWNORMAL);
    quorvil::Forms forms(application);
    forms.main.AppendFiles({"C:\\Users\\ann\\Videos\\take1.avi", "C:\\Users\\ann\\Videos\\take2.avi",
                            "C:\\Users\\ann\\Videos\\interview, camera B.avi",
                            "D:\\archive\\1998\\wedding reel 03.avi"});
    SendMessageA(forms.main.ListBox1, LB_SETCURSEL, 1, 0);
    forms.main.Show(SW_SHOWNORMAL);
    if (__argc > 1 && lstrcmpA(__argv[1], "about") == 0)
        forms.about.ShowAbout();
    const DWORD end = GetTickCount() + 6000;
    while (GetTickCount() < end) {
        application.ProcessMessages();
        Sleep(20);
    }
    return 0;
}
