#include "forms.h"

#include "application.h"

namespace quorvil {

Forms::Forms(TForm1::Services services) : main(std::move(services)), about(TApplication::Instance()->Handle())
{
    main.SetAboutForm(&about);
    TApplication::Instance()->MainForm = &main;
    TApplication::Instance()->AboutForm = &about;
}

Forms::~Forms()
{
    TApplication::Instance()->MainForm = nullptr;
    TApplication::Instance()->AboutForm = nullptr;
}

} // namespace quorvil
