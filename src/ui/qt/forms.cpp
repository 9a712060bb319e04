#include "forms.h"

namespace quorvil {

Forms::Forms(FormHost& application, TForm1::Services services) : main(application, std::move(services)), about(&main)
{
    main.SetAboutForm(&about);
}

} // namespace quorvil
