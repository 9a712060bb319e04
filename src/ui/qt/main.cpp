#include "application.h"

int main(int argc, char** argv)
{
    return quorvil::RunApplication(argc, argv);
}
