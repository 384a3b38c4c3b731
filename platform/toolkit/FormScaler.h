// Scales a form laid out at one screen density to the density of the screen it is shown on.
//
// A layout states its density in the top widget's dynamic property "layoutDpi"; positions, sizes
// and the fonts named by "fontPixelHeight" are multiplied by QScreen::logicalDotsPerInch() / that.
// The desktop's sans serif stands in for the layout's font family.
#pragma once

class QWidget;

namespace platform {

// Screen density over layout density for this form.
double densityFactor(const QWidget* form);

// Scales every control's geometry and font, the tool bar's buttons, and the form's own size, and
// centres the form on its screen. Run once, after the layout has been loaded.
void scaleForm(QWidget* form);

} // namespace platform
