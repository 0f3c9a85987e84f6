#pragma once

#include <atspi/atspi-constants.h>

#include <QList>
#include <QString>
#include <QtGlobal>

namespace nimbel {

// A state set as a bit mask: bit n is `AtspiStateType` n.
using AtspiStateBits = quint64;

constexpr AtspiStateBits atspiStateBit(AtspiStateType state)
{
    return AtspiStateBits(1) << unsigned(state);
}

// The summary's role name ("AXButton", "AXStaticText", ...) for an AT-SPI role.
// Where AT-SPI has one role for what the summary tells apart, the states decide:
// an editable combo box is a combo box, any other a pop-up button; an expandable
// toggle button is a disclosure triangle; multi-line text is a text area.
// Roles with no counterpart read "AXUnknown".
QString accessibilityRoleName(AtspiRole role, AtspiStateBits states);

// The AT-SPI roles that can yield a summarised role, for matching on the
// application's side.
QList<AtspiRole> summarisedAtspiRoles();

// Roles of an element that shows a web page and may carry its address.
bool isDocumentRole(AtspiRole role);

} // namespace nimbel
