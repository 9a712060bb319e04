#include "forms.h"

namespace quorvil {

Forms::Forms(FormHost& application) : Forms(application, TForm1::DefaultServices(application)) {}

Forms::Forms(FormHost& application, TForm1::Services services)
    : main(application, std::move(services)), about(application), application_(application)
{
    main.SetAboutForm(&about);
    application_.SetForms(&main, &about);
}

Forms::~Forms()
{
    application_.SetForms(nullptr, nullptr);
}

} // namespace quorvil
