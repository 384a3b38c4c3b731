// Tool tips on exactly the controls that have one.
//
// Qt passes a tool-tip request that a widget does not answer on to its parent, so a page, a group
// box or a label would show the tip of the page control around them. The form's own controls (those
// the layout names) that have no tip stop the request instead; a control's inner parts (a page
// control's tab bar) still pass it on to the control.
#pragma once

class QWidget;

namespace platform {

void keepToolTipsToTheirControls(QWidget* form);

} // namespace platform
