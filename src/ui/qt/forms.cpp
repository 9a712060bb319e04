#include "forms.h"

namespace quorvil {

Forms::Forms(TForm1::Services services) : main(std::move(services)), about(&main)
{
    main.SetAboutForm(&about);
}

} // namespace quorvil
