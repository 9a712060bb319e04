// Renders the real windows to PNG files, for the README and for looking at them:
//   quorvil_screenshot MAIN.png ABOUT.png
// Run it with QT_QPA_PLATFORM=offscreen; QT_FONT_DPI shows them at a larger text size.
#include <QListWidget>
#include <QPixmap>
#include <QTimer>

#include "Mainfrm.h"
#include "Unit2.h"

int main(int argc, char** argv)
{
    quorvil::TApplication application(argc, argv);
    if (argc < 3)
        return 2;
    quorvil::TForm1 form1;
    quorvil::TForm2 form2(&form1);
    form1.SetAboutForm(&form2);
    form1.AppendFiles({"/home/ann/clips/take1.avi", "/home/ann/clips/take2.avi",
                       "/home/ann/clips/interview, camera B.avi", "/media/archive/1998/wedding reel 03.avi"});
    form1.ListBox1->setCurrentRow(1);
    form1.show();
    form2.ShowAbout();
    QTimer::singleShot(200, [&] {
        const bool saved = form1.grab().save(argv[1]) && form2.grab().save(argv[2]);
        application.exit(saved ? 0 : 1);
    });
    return application.exec();
}
