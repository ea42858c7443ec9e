#include "ui/View.h"

namespace Ui
{
namespace
{
struct SLabel
{
    ControlId id;
    TextId text;
};

constexpr SLabel kLabels[] = {
    {ControlId::LoginCaption, TextId::Login},       {ControlId::PasswordCaption, TextId::Password},
    {ControlId::SignIn, TextId::SignIn},            {ControlId::Play, TextId::Play},
    {ControlId::SignOut, TextId::SignOut},          {ControlId::Minimise, TextId::Minimise},
    {ControlId::Close, TextId::Close},              {ControlId::CreateAccount, TextId::CreateAccount},
    {ControlId::ForgotPassword, TextId::ForgotPassword}, {ControlId::Website, TextId::Website},
    {ControlId::Discord, TextId::Discord},          {ControlId::Support, TextId::Support},
    {ControlId::Repair, TextId::Repair},            {ControlId::LanguageCaption, TextId::Language},
};
}

void FillTexts(SView& view)
{
    const std::size_t language = view.language < kLanguageCount ? view.language : kEnglish;
    for (const SLabel& label : kLabels)
    {
        view[label.id].text = TextIn(language, label.text);
    }
    const std::string_view signedInAs = TextIn(language, TextId::SignedInAs);
    try
    {
        view[ControlId::SignedInLine].text = fmt::format(fmt::runtime(signedInAs), view.loginName);
    }
    catch (const fmt::format_error&)
    {
        view[ControlId::SignedInLine].text = signedInAs;
    }
    view[ControlId::Status].text = view.statusText;
}

SView SignedOutView(std::size_t language, bool releaseReadable)
{
    SView view;
    view.language = language;
    view.releaseReadable = releaseReadable;
    for (ControlId id : {ControlId::LoginCaption, ControlId::LoginBox, ControlId::PasswordCaption,
                         ControlId::PasswordBox, ControlId::SignIn})
    {
        view[id] = {.shown = true, .enabled = releaseReadable};
    }
    for (ControlId id : {ControlId::CreateAccount, ControlId::ForgotPassword})
    {
        view[id].shown = releaseReadable;
    }
    for (ControlId id : {ControlId::Status, ControlId::Minimise, ControlId::Close, ControlId::Website,
                         ControlId::Discord, ControlId::Support, ControlId::Repair,
                         ControlId::LanguageCaption, ControlId::LanguageList})
    {
        view[id].shown = true;
    }
    view[ControlId::Repair].enabled = releaseReadable;
    FillTexts(view);
    return view;
}
}
