// Resource ids of the setup assistant: its strings, icon and page templates
// in the resource library, and the controls of those templates.
#pragma once

namespace SetupAssistant {

// Strings and the icon.
inline constexpr unsigned IDS_WSA_TITLE = 14102;  // the sheet's caption, also its single-instance key
inline constexpr unsigned IDS_HELP_UNAVAILABLE = 10150;
inline constexpr unsigned IDS_NO_MAC_ADDRESS = 10037;
inline constexpr unsigned IDI_WSA_ICON = 14128;

// Page templates, in the sheet's page order.
inline constexpr unsigned IDD_STANDALONE = 14139;
inline constexpr unsigned IDD_STANDALONE_ADDED = 14140;
inline constexpr unsigned IDD_SELECT_WIRELESS_PRINTER = 14138;
inline constexpr unsigned IDD_PNP_WELCOME = 14130;
inline constexpr unsigned IDD_PNP_SEARCH_BEGIN = 14131;
inline constexpr unsigned IDD_PNP_SEARCH_NOT_FOUND = 14132;
inline constexpr unsigned IDD_PRINTER_NOT_ADDED = 14142;
inline constexpr unsigned IDD_PNP_PRINTER_NOT_ADDED = 14143;
inline constexpr unsigned IDD_PNP_PRINTER_CONFIGURED = 14144;

// Page indices (SetActivePage).
inline constexpr int kStandAlonePage = 0;
inline constexpr int kStandAloneAddedPage = 1;
inline constexpr int kSelectWirelessPrinterPage = 2;
inline constexpr int kPnpWelcomePage = 3;
inline constexpr int kPnpSearchBeginPage = 4;
inline constexpr int kPnpSearchNotFoundPage = 5;
inline constexpr int kPrinterNotAddedPage = 6;
inline constexpr int kPnpPrinterNotAddedPage = 7;
inline constexpr int kPnpPrinterConfiguredPage = 8;

// Controls.
inline constexpr int IDC_CONFIGURE_WIRELESS = 1001;  // opens the wireless configuration wizard
inline constexpr int IDC_SEARCH_ANIMATION = 1003;
inline constexpr int IDC_PRINTER_LIST = 1010;
inline constexpr int IDC_LIST_HELP = 14135;

// The search page waits this long before it looks for the printer.
inline constexpr unsigned kSearchTimerId = 777;
inline constexpr unsigned kSearchDelayMs = 2000;
// The animation's top edge, in dialog units.
inline constexpr int kAnimationTop = 90;

}  // namespace SetupAssistant
