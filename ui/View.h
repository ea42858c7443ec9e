// What the launcher window shows: a plain snapshot that the controller produces and the
// window applies (control visibility, enabling and texts) and draws from. Free of
// <windows.h>, so the controller that fills it is built and tested natively too.
//
// The window keeps its own mechanics (hover, pressed button, keyboard focus, focus cues,
// animation clock) and adds them to this view when it paints; nothing else reaches drawing.
#pragma once

#include "ui/Localisation.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Ui
{
// The window's 19 child controls; the values are their control ids. The table order (hit
// testing, tab order) is the window's business; this is only the numbering.
enum class ControlId : std::uint16_t
{
    LoginCaption = 100,
    LoginBox = 101,
    PasswordCaption = 102,
    PasswordBox = 103,
    SignIn = 104,
    SignedInLine = 105,
    Play = 106,
    SignOut = 107,
    Status = 108,
    Minimise = 109,
    Close = 110,
    CreateAccount = 111,
    ForgotPassword = 112,
    Website = 113,
    Discord = 114,
    Support = 115,
    Repair = 116,
    LanguageCaption = 117,
    LanguageList = 118,
};
inline constexpr std::uint16_t kFirstControlId = 100;
inline constexpr std::size_t kControlCount = 19;

[[nodiscard]] constexpr std::size_t SlotOf(ControlId id) noexcept
{
    return static_cast<std::size_t>(static_cast<std::uint16_t>(id) - kFirstControlId);
}

// How the status line is coloured: neutral and error text start at the left edge; the other
// three kinds get a dot before the text.
enum class StatusKind : std::uint8_t
{
    Neutral = 0,
    Error = 1,
    Connection = 2,
    Good = 3,
    Attention = 4,
};

struct SControlView
{
    bool shown = false;
    bool enabled = true;
    // The control's window text: its accessible name and, for captions, buttons and links,
    // the label that is drawn. Ignored for the two edit boxes (the player types those).
    std::string text;

    [[nodiscard]] bool operator==(const SControlView&) const = default;
};

struct SView
{
    std::array<SControlView, kControlCount> controls{};

    bool signedIn = false;
    bool releaseReadable = false;
    std::string loginName; // shown in "Signed in as {}" (the text of SignedInLine)

    // The shown status line (also the text of Status) and its colour.
    std::string statusText;
    StatusKind statusKind = StatusKind::Neutral;
    // 0 to 1 draws a progress bar under the status text (above 1 is a full bar); below 0: none.
    float progressFraction = -1.0f;

    // Version label at the bottom left (the installed release's name, marked in a development
    // build), and what decides the bottom row after it: the three links that have an address
    // (Website, Discord, Support) and Repair, which needs a CDN.
    std::string releaseName;
    std::array<bool, 3> linkHasAddress{true, false, false};
    bool hasCdn = false;

    // Index into kLanguages: selected in the language list, its label drawn on the selector.
    std::size_t language = kEnglish;

    [[nodiscard]] SControlView& operator[](ControlId id) noexcept { return controls[SlotOf(id)]; }
    [[nodiscard]] const SControlView& operator[](ControlId id) const noexcept { return controls[SlotOf(id)]; }
    [[nodiscard]] bool operator==(const SView&) const = default;
};

// Where the focus goes when nothing decided otherwise (the window's start, its first
// activation, the game's end): PLAY for a signed-in player, else the login box.
[[nodiscard]] constexpr ControlId FirstFocus(bool signedIn) noexcept
{
    return signedIn ? ControlId::Play : ControlId::LoginBox;
}

// Sets every control's text in the view's language: the fixed labels, "Signed in as {}" with
// the login name, the status text for the status line, and the language names' caption.
void FillTexts(SView& view);

// The window before the controller has decided anything: signed out, the sign-in form shown
// and enabled, nothing in the status line.
[[nodiscard]] SView SignedOutView(std::size_t language, bool releaseReadable);
}
