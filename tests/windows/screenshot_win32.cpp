// Shows the Windows windows with a sample queue for a few seconds, to be photographed from the X
// server (scripts/screenshot-windows).
#include <windows.h>

#include "Mainfrm.h"
#include "Unit2.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    quorvil::TApplication application(instance);
    ShowWindow(application.Handle(), SW_SHOWNORMAL);
    quorvil::TForm1 form1;
    quorvil::TForm2 form2(application.Handle());
    application.MainForm = &form1;
    application.AboutForm = &form2;
    form1.SetAboutForm(&form2);
    form1.AppendFiles({"C:\\Users\\ann\\Videos\\take1.avi", "C:\\Users\\ann\\Videos\\take2.avi",
                       "C:\\Users\\ann\\Videos\\interview, camera B.avi", "D:\\archive\\1998\\wedding reel 03.avi"});
    SendMessageA(form1.ListBox1, LB_SETCURSEL, 1, 0);
    form1.Show(SW_SHOWNORMAL);
    if (__argc > 1 && lstrcmpA(__argv[1], "about") == 0)
        form2.ShowAbout();
    const DWORD end = GetTickCount() + 6000;
    while (GetTickCount() < end) {
        application.ProcessMessages();
        Sleep(20);
    }
    return 0;
}
