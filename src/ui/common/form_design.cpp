#include "form_design.h"

namespace quorvil::design {

std::string LabelWithPattern(const FileFilter& filter)
{
    const std::string named = "(" + std::string(filter.pattern) + ")";
    if (filter.label.ends_with(named))
        return std::string(filter.label);
    return std::string(filter.label) + " " + named;
}

std::string AboutName()
{
    return std::string(kApplicationTitle) + " " + std::string(kVersion);
}

std::string LabelText(const Control& label)
{
    return label.name == kAboutLabels[0].name ? AboutName() : std::string(label.text);
}

} // namespace quorvil::design
