// Renders the real windows to PNG files, for the README and for looking at them:
//   quorvil_screenshot MAIN.png ABOUT.png
// Run it with QT_QPA_PLATFORM=offscreen; QT_FONT_DPI shows them at a larger text size.
#include <QListWidget>
#include <QPixmap>
#include <QTimer>

#include "application.h"
#include "forms.h"
#include "queue_list_box.h"

int main(int argc, char** argv)
{
    quorvil::TApplication application(argc, argv);
    if (argc < 3)
        return 2;
    quorvil::Forms forms(application);
    forms.main.AppendFiles({"/home/ann/clips/take1.avi", "/home/ann/clips/take2.avi",
                            "/home/ann/clips/interview, camera B.avi", "/media/archive/1998/wedding reel 03.avi"});
    forms.main.ListBox1->setCurrentRow(1);
    forms.main.show();
    forms.about.ShowAbout();
    QTimer::singleShot(200, [&] {
        const bool saved = forms.main.grab().save(argv[1]) && forms.about.grab().save(argv[2]);
        application.exit(saved ? 0 : 1);
    });
    return application.exec();
}
