// The order in which the controller's effects are carried out, free of Windows so that it is
// tested natively under the sanitizers. An event is handed to the controller; its effects are
// carried out one by one, and an effect's answer is dispatched at once, nested. When the
// outermost dispatch ends:
//   1. a destroy of the window, when one was asked for, is carried out last of all: the
//      window's end frees the loop and its carrier, so nothing runs after it;
//   2. otherwise the controller's view is shown when it differs from the one shown;
//   3. then the focus moves, so that it lands on a control that the view has just enabled.
// Once the controller has asked to quit, later events change nothing.
#pragma once

#include "shell/Controller.h"

#include <optional>

namespace Shell
{
class CEffectLoop
{
public:
    class ICarrier
    {
    public:
        // Every effect but focus, the window's destruction and quitting; may dispatch again.
        virtual void Carry(const SEffect& effect) = 0;
        virtual void ShowView(const Ui::SView& view) = 0;
        // Effect::SFocus or Effect::SFocusSignInForm.
        virtual void Focus(const SEffect& focus) = 0;
        // May free the loop and the carrier before it returns.
        virtual void DestroyWindow() = 0;

    protected:
        ~ICarrier() = default;
    };

    // `shown` is what the window shows before the first event.
    CEffectLoop(ICarrier& carrier, Ui::SView shown) : m_carrier(carrier), m_shown(std::move(shown)) {}

    void Dispatch(const SEvent& event);

    [[nodiscard]] const CController& Controller() const noexcept { return m_controller; }

private:
    ICarrier& m_carrier;
    CController m_controller;
    Ui::SView m_shown;
    int m_depth = 0;                  // dispatches in progress (answers nest)
    std::optional<SEffect> m_focus;   // the last focus asked for, moved once the view is shown
    bool m_destroyAsked = false;
    bool m_quit = false;
};
}
