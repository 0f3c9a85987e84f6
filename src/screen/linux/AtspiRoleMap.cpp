#include "screen/linux/AtspiRoleMap.h"

#include "screen/AccessibilityContext.h"

#include <array>
#include <utility>

namespace nimbel {

namespace {

// Roles whose name does not depend on the states.
constexpr std::array<std::pair<AtspiRole, const char16_t *>, 88> fixedRoles{{
    {ATSPI_ROLE_PUSH_BUTTON, u"AXButton"},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, u"AXMenuButton"},
    {ATSPI_ROLE_CHECK_BOX, u"AXCheckBox"},
    {ATSPI_ROLE_RADIO_BUTTON, u"AXRadioButton"},
    // Tabs are picked like radio buttons inside their tab group.
    {ATSPI_ROLE_PAGE_TAB, u"AXRadioButton"},
    {ATSPI_ROLE_PAGE_TAB_LIST, u"AXTabGroup"},
    {ATSPI_ROLE_MENU_ITEM, u"AXMenuItem"},
    {ATSPI_ROLE_CHECK_MENU_ITEM, u"AXMenuItem"},
    {ATSPI_ROLE_RADIO_MENU_ITEM, u"AXMenuItem"},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, u"AXMenuItem"},
    // A menu-bar entry or an entry that opens a submenu: something to click.
    {ATSPI_ROLE_MENU, u"AXMenuItem"},
    {ATSPI_ROLE_LINK, u"AXLink"},
    {ATSPI_ROLE_HEADING, u"AXHeading"},
    {ATSPI_ROLE_SLIDER, u"AXSlider"},
    {ATSPI_ROLE_ENTRY, u"AXTextField"},
    {ATSPI_ROLE_PASSWORD_TEXT, u"AXTextField"},
    {ATSPI_ROLE_LABEL, u"AXStaticText"},
    {ATSPI_ROLE_STATIC, u"AXStaticText"},
    {ATSPI_ROLE_CAPTION, u"AXStaticText"},
    // Web text has no separate text leaves: a paragraph is its own text.
    {ATSPI_ROLE_PARAGRAPH, u"AXStaticText"},
    {ATSPI_ROLE_SPIN_BUTTON, u"AXIncrementor"},
    {ATSPI_ROLE_SCROLL_BAR, u"AXScrollBar"},
    {ATSPI_ROLE_PROGRESS_BAR, u"AXProgressIndicator"},
    {ATSPI_ROLE_LEVEL_BAR, u"AXLevelIndicator"},
    {ATSPI_ROLE_DATE_EDITOR, u"AXDateField"},
    {ATSPI_ROLE_WINDOW, u"AXWindow"},
    {ATSPI_ROLE_FRAME, u"AXWindow"},
    {ATSPI_ROLE_DIALOG, u"AXWindow"},
    {ATSPI_ROLE_ALERT, u"AXWindow"},
    {ATSPI_ROLE_APPLICATION, u"AXApplication"},
    {ATSPI_ROLE_MENU_BAR, u"AXMenuBar"},
    {ATSPI_ROLE_POPUP_MENU, u"AXMenu"},
    {ATSPI_ROLE_TOOL_BAR, u"AXToolbar"},
    {ATSPI_ROLE_TOOL_TIP, u"AXHelpTag"},
    {ATSPI_ROLE_SCROLL_PANE, u"AXScrollArea"},
    {ATSPI_ROLE_SPLIT_PANE, u"AXSplitGroup"},
    {ATSPI_ROLE_SEPARATOR, u"AXSplitter"},
    {ATSPI_ROLE_LIST, u"AXList"},
    {ATSPI_ROLE_LIST_BOX, u"AXList"},
    {ATSPI_ROLE_LIST_ITEM, u"AXRow"},
    {ATSPI_ROLE_TABLE, u"AXTable"},
    {ATSPI_ROLE_TABLE_ROW, u"AXRow"},
    {ATSPI_ROLE_TABLE_CELL, u"AXCell"},
    {ATSPI_ROLE_COLUMN_HEADER, u"AXCell"},
    {ATSPI_ROLE_ROW_HEADER, u"AXCell"},
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, u"AXCell"},
    {ATSPI_ROLE_TABLE_ROW_HEADER, u"AXCell"},
    {ATSPI_ROLE_TREE, u"AXOutline"},
    {ATSPI_ROLE_TREE_TABLE, u"AXOutline"},
    {ATSPI_ROLE_TREE_ITEM, u"AXRow"},
    {ATSPI_ROLE_IMAGE, u"AXImage"},
    {ATSPI_ROLE_ICON, u"AXImage"},
    {ATSPI_ROLE_DESKTOP_ICON, u"AXImage"},
    {ATSPI_ROLE_IMAGE_MAP, u"AXImage"},
    {ATSPI_ROLE_ANIMATION, u"AXImage"},
    {ATSPI_ROLE_CANVAS, u"AXImage"},
    {ATSPI_ROLE_DRAWING_AREA, u"AXImage"},
    {ATSPI_ROLE_CHART, u"AXImage"},
    {ATSPI_ROLE_DOCUMENT_WEB, u"AXWebArea"},
    {ATSPI_ROLE_DOCUMENT_FRAME, u"AXWebArea"},
    {ATSPI_ROLE_DOCUMENT_TEXT, u"AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_EMAIL, u"AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_SPREADSHEET, u"AXGroup"},
    {ATSPI_ROLE_DOCUMENT_PRESENTATION, u"AXGroup"},
    {ATSPI_ROLE_TERMINAL, u"AXTextArea"},
    {ATSPI_ROLE_PANEL, u"AXGroup"},
    {ATSPI_ROLE_FILLER, u"AXGroup"},
    {ATSPI_ROLE_GROUPING, u"AXGroup"},
    {ATSPI_ROLE_SECTION, u"AXGroup"},
    {ATSPI_ROLE_FORM, u"AXGroup"},
    {ATSPI_ROLE_LANDMARK, u"AXGroup"},
    {ATSPI_ROLE_ARTICLE, u"AXGroup"},
    {ATSPI_ROLE_BLOCK_QUOTE, u"AXGroup"},
    {ATSPI_ROLE_HEADER, u"AXGroup"},
    {ATSPI_ROLE_FOOTER, u"AXGroup"},
    {ATSPI_ROLE_STATUS_BAR, u"AXGroup"},
    {ATSPI_ROLE_INFO_BAR, u"AXGroup"},
    {ATSPI_ROLE_NOTIFICATION, u"AXGroup"},
    {ATSPI_ROLE_HTML_CONTAINER, u"AXGroup"},
    {ATSPI_ROLE_OPTION_PANE, u"AXGroup"},
    {ATSPI_ROLE_ROOT_PANE, u"AXGroup"},
    {ATSPI_ROLE_LAYERED_PANE, u"AXGroup"},
    {ATSPI_ROLE_GLASS_PANE, u"AXGroup"},
    {ATSPI_ROLE_INTERNAL_FRAME, u"AXGroup"},
    {ATSPI_ROLE_VIEWPORT, u"AXGroup"},
    {ATSPI_ROLE_EMBEDDED, u"AXGroup"},
    {ATSPI_ROLE_CALENDAR, u"AXGroup"},
    {ATSPI_ROLE_FILE_CHOOSER, u"AXGroup"},
}};

} // namespace

QString accessibilityRoleName(AtspiRole role, AtspiStateBits states)
{
    const auto has = [states](AtspiStateType state) { return (states & atspiStateBit(state)) != 0; };
    switch (role) {
    case ATSPI_ROLE_COMBO_BOX:
        return has(ATSPI_STATE_EDITABLE) ? QStringLiteral("AXComboBox") : QStringLiteral("AXPopUpButton");
    case ATSPI_ROLE_TOGGLE_BUTTON:
        return has(ATSPI_STATE_EXPANDABLE) ? QStringLiteral("AXDisclosureTriangle") : QStringLiteral("AXCheckBox");
    case ATSPI_ROLE_TEXT:
        return has(ATSPI_STATE_MULTI_LINE) ? QStringLiteral("AXTextArea") : QStringLiteral("AXTextField");
    default:
        break;
    }
    for (const auto &[atspiRole, name] : fixedRoles) {
        if (atspiRole == role)
            return QString::fromUtf16(name);
    }
    return QStringLiteral("AXUnknown");
}

QList<AtspiRole> summarisedAtspiRoles()
{
    static constexpr std::array<AtspiStateBits, 4> variants{
        0,
        atspiStateBit(ATSPI_STATE_EDITABLE),
        atspiStateBit(ATSPI_STATE_EXPANDABLE),
        atspiStateBit(ATSPI_STATE_MULTI_LINE),
    };
    QList<AtspiRole> roles;
    for (int value = 0; value < int(ATSPI_ROLE_LAST_DEFINED); ++value) {
        const auto role = AtspiRole(value);
        for (AtspiStateBits states : variants) {
            if (isIncludedAccessibilityRole(accessibilityRoleName(role, states))) {
                roles.append(role);
                break;
            }
        }
    }
    return roles;
}

bool isDocumentRole(AtspiRole role)
{
    return role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_FRAME;
}

} // namespace nimbel
