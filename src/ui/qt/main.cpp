#include "Mainfrm.h"

int main(int argc, char** argv)
{
    quorvil::TApplication application(argc, argv);
    return application.Run();
}
