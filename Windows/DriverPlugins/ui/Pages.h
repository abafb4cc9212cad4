// The plug-in's property pages: each page object answers its dialog's
// messages, fills the dialog from the printer and applies the user's choice.
#pragma once

#include <memory>

#include "ColourChoices.h"
#include "Mfc/WinUser.h"
#include "Platform/DriverUi.h"

namespace Gorlith {

inline constexpr UINT kColourPageTemplate = 600;
inline constexpr UINT kStatusPageTemplate = 602;
inline constexpr UINT kPinPageTemplate = 102;

inline constexpr int kFirstChoiceButton = 603;
inline constexpr int kLastChoiceButton = 608;
inline constexpr int kDeveloperFiles = 609;
inline constexpr int kPinEdit = 1014;
inline constexpr int kKeepPin = 1015;

inline constexpr const char16_t* kPageProperty = u"WndObjectNamePointer";

class PropertyPage {
public:
    virtual ~PropertyPage() = default;
    // On WM_INITDIALOG: whether the page is ready.
    virtual bool Initialise() = 0;
    virtual bool Apply() { return true; }
    // On entering the page: show what the settings hold now, which another
    // page of the sheet may have changed.
    virtual void Refresh() {}
    virtual UINT TemplateId() const = 0;
    virtual UINT DialogTemplateId() const = 0;
    virtual INT_PTR DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window = nullptr;
    // The driver's page parameters of the sheet being built.
    const OEMUIPSPARAM* context = nullptr;

protected:
    StringSource strings_ = ResourceStrings();
};

class StatusPropertyPage final : public PropertyPage {
public:
    bool Initialise() override;
    UINT TemplateId() const override { return kStatusPageTemplate; }
    UINT DialogTemplateId() const override { return kStatusPageTemplate; }
};

class ColourPropertyPage final : public PropertyPage {
public:
    bool Initialise() override;
    bool Apply() override;
    void Refresh() override;
    UINT TemplateId() const override { return kColourPageTemplate; }
    UINT DialogTemplateId() const override { return kColourPageTemplate; }

    const ChoiceList& Choices() const { return choices_; }

private:
    // Only six buttons: later records are offered by the option item alone.
    int Buttons() const;
    // Checks the button of a choice; one without a button checks none.
    void Check(int index);

    ChoiceList choices_;
    bool developerMode_ = false;
};

class PinPropertyPage final : public PropertyPage {
public:
    bool Initialise() override;
    bool Apply() override;
    UINT TemplateId() const override { return kPinPageTemplate; }
    UINT DialogTemplateId() const override { return kPinPageTemplate; }
};

// The dialog procedure of every page: finds the page object through the
// window property set on WM_INITDIALOG.
INT_PTR PageDispatcher(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// What a page block carries for its callbacks, on the driver's heap.
struct PageBlock {
    PROPSHEETUI_INFO* sheet;
    const OEMUIPSPARAM* parameters;
    PFNCOMPROPSHEET function;
    HANDLE sheetHandle;
    LONG_PTR added;  // what adding the block answered
    PropertyPage* page;
    COMPROPSHEETUI block;
    DLGPAGE dialogPage;
    OPTITEM item;
    OPTTYPE type;
    OPTPARAM range[2];
    char16_t tabName[1];
    char16_t itemName[5];
};

// The block callback of a page.
LONG PageBlockCallback(PCPSUICBPARAM param);

// The plug-in file's version text, when it can be read.
std::optional<std::u16string> PluginFileVersion();

}  // namespace Gorlith
