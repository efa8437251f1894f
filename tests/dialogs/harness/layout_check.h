// Mechanical checks of a dialog's layout, as a user would notice its faults: text that does not
// fit the control showing it (labels, word-wrapped labels, check boxes, radio buttons, push
// buttons, group box titles), controls that stick out of their parent, overlap a neighbour or
// (but for labels, whose text need not reach their edges) touch one with no gap, a window
// larger than its screen, and a row of buttons the Tab key does not walk from left to right. Controls inside
// scrolled areas (lists, tables, scroll areas) and the parts of compound widgets (combo boxes, spin boxes,
// tab bars) are left out.
#pragma once

#include <string>
#include <vector>

class QWidget;

namespace trem_harness {

// One line per fault, naming the control and what it needs: "QLabel 'How long does it...'
// (ctl1891): needs 54 px high at 300 px, has 40". Empty when the window is laid out soundly.
std::vector<std::string> LayoutFaults(QWidget* window);

}  // namespace trem_harness
